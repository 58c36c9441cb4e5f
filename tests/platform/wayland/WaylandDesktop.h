#pragma once

// What the Wayland tests share: a full-screen window of four known colours,
// mutter's own pointer, the test portal's control interfaces, and the
// settings the real program is run with.
#include "support/EventLoopWait.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QStandardPaths>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <string>

namespace WaylandDesktop {

// Quadrants of these colours, meeting at the window's centre.
inline const QColor topLeft(230, 40, 40), topRight(20, 230, 40), bottomLeft(40, 60, 230), bottomRight(230, 220, 30);

class QuadrantWindow : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const int w = width(), h = height();
        painter.fillRect(QRect(0, 0, w / 2, h / 2), topLeft);
        painter.fillRect(QRect(w / 2, 0, w - w / 2, h / 2), topRight);
        painter.fillRect(QRect(0, h / 2, w / 2, h - h / 2), bottomLeft);
        painter.fillRect(QRect(w / 2, h / 2, w - w / 2, h - h / 2), bottomRight);
    }
};

// Whether this process runs on the Wayland test desktop with at least
// SCREENS monitors.
inline bool onWayland(int screens = 1)
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
        && QGuiApplication::screens().size() >= screens;
}

// Shows WINDOW full screen and waits until it is exposed, and then for the
// compositor's next frames, from which on it is on screen.
inline bool showFullScreen(QWindow &window)
{
    window.showFullScreen();
    if (!TestSupport::waitUntil([&] { return window.isExposed(); }, 10000))
        return false;
    TestSupport::spin(500);
    return true;
}

// The first of TOOLS that is not installed, or empty.
inline std::string missingTool(std::initializer_list<const char *> tools)
{
    for (const char *tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    return {};
}

// Runs tests/support/portal/pointer.py (mutter's own pointer, ARGUMENTS as
// that script takes them) to its end; whether it did what it was asked.
inline bool movePointer(const QStringList &arguments)
{
    QProcess pointer;
    pointer.setProcessChannelMode(QProcess::ForwardedChannels);
    pointer.start("/usr/bin/python3",
        QStringList {qEnvironmentVariable("VELUNTA_SOURCE_DIR") + "/tests/support/portal/pointer.py"} + arguments);
    if (!TestSupport::waitUntil([&] { return pointer.state() == QProcess::NotRunning; }, 30000))
        return false;
    return pointer.exitStatus() == QProcess::NormalExit && pointer.exitCode() == 0;
}

// A method of the test portal's control interface, through gdbus.
inline QByteArray portal(const QString &method, const QStringList &arguments = {})
{
    return TestSupport::tool("gdbus",
        QStringList {"call", "--session", "--dest", "org.freedesktop.portal.Desktop", "--object-path",
            "/org/freedesktop/portal/desktop", "--method", "app.velunta.TestPortal." + method}
            + arguments);
}

// The files the portal has handed out so far.
inline QStringList portalFiles()
{
    QString out = QString::fromUtf8(portal("Screenshots"));
    QStringList files;
    for (const QString &part : out.split('\'')) {
        if (part.startsWith('/'))
            files << part;
    }
    return files;
}

// Whether the program under test, and not this process, has bound BINDING
// (such as "'velunta-1', 'ALT+SHIFT+1'") within MS. MEANWHILE runs at each
// look, for a caller that must keep reading the program's output.
inline bool programBound(const QByteArray &binding, int ms, const std::function<void()> &meanwhile = {})
{
    const QByteArray ours = "/session/" + QDBusConnection::sessionBus().baseService().mid(1).replace('.', '_').toUtf8();
    return TestSupport::waitUntil(
        [&] {
            if (meanwhile)
                meanwhile();
            const QByteArray bound = portal("Bound");
            return bound.contains(binding) && !bound.contains(ours);
        },
        ms);
}

// A method of the test portal's ScreenCast control interface.
inline QDBusMessage castControl(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("app.velunta.TestPortal.ScreenCast"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

// A count the ScreenCast control answers; 9999 when it does not answer.
inline uint castCount(const QString &method)
{
    const QDBusReply<uint> reply = castControl(method);
    return reply.isValid() ? reply.value() : 9999;
}

// The times the portal would have shown its chooser.
inline uint castDialogs()
{
    return castCount(QStringLiteral("DialogCount"));
}

inline uint castSessions()
{
    return castCount(QStringLiteral("SessionCount"));
}

// The portal's sessions once closing has had time to arrive.
inline uint castSessionsAfterClosing()
{
    uint open = castSessions();
    for (int i = 0; i < 100 && open != 0; ++i) {
        TestSupport::spin(50);
        open = castSessions();
    }
    return open;
}

// The settings of a run of the real program that saves its screenshots to
// SAVEFOLDER and leaves the clipboard and the system audio alone.
inline QByteArray runSettings(const QString &saveFolder)
{
    return "[General]\nhasCompletedOnboarding=true\ncopiesScreenshots=false\ncapturesSystemAudio=false\nsaveFolder="
        + saveFolder.toUtf8() + "\n";
}

} // namespace WaylandDesktop
