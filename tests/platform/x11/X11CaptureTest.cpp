// The capture connection on an X server of its own, which the test can take
// away.
#include "platform/x11/X11Capture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

// A private Xvfb on a free display number.
class PrivateServer {
public:
    PrivateServer()
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return;
        for (int n = 150; n < 200; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
                || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_name = QStringLiteral(":%1").arg(n).toUtf8();
            m_socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            break;
        }
        if (m_name.isEmpty())
            return;
        m_process.start("Xvfb", {QString::fromUtf8(m_name), "-screen", "0", "320x200x24", "-nolisten", "tcp"});
        if (!m_process.waitForStarted(5000))
            return;
        for (int i = 0; i < 100 && !QFile::exists(m_socket); ++i)
            QThread::msleep(50);
    }
    ~PrivateServer() { stop(); }
    bool running() const { return m_process.state() == QProcess::Running && QFile::exists(m_socket); }
    QByteArray name() const { return m_name; }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_name;
    QString m_socket;
};

// Plain windows of one colour each (their background), straight on the root
// as no window manager runs.
class Windows {
public:
    explicit Windows(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr))
    {
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    }
    ~Windows() { xcb_disconnect(m_connection); }

    xcb_window_t add(QRect geometry, QRgb colour)
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        const uint32_t values[] = {colour & 0xffffffu};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, int16_t(geometry.x()),
            int16_t(geometry.y()), uint16_t(geometry.width()), uint16_t(geometry.height()), 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, XCB_CW_BACK_PIXEL, values);
        xcb_map_window(m_connection, window);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        return window;
    }

private:
    xcb_connection_t *m_connection;
    xcb_screen_t *m_screen;
};

} // namespace

// A window covering the whole area is read as it is, or composed with what
// lies over it; what is left out never shows, borrowed or copied.
TEST(X11Capture, AWindowOverTheWholeAreaIsReadWithWhatLiesOverIt)
{
    PrivateServer server;
    if (!server.running())
        GTEST_SKIP() << "needs Xvfb";
    auto capture = X11Capture::open(server.name());
    ASSERT_TRUE(capture);
    Windows windows(server.name());
    windows.add(QRect(0, 0, 320, 200), qRgb(20, 200, 60));
    const xcb_window_t left = windows.add(QRect(10, 10, 40, 40), qRgb(250, 0, 250));
    // The redirect made at open needs a moment to expose the new windows.
    QThread::msleep(300);
    const QRect area(5, 5, 100, 60);

    auto alone = (*capture)->grabBorrowed(GrabRequest {area, {left}, false});
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->size(), area.size());
    EXPECT_EQ(alone->pixel(0, 0) & 0xffffff, qRgb(20, 200, 60) & 0xffffff);
    EXPECT_EQ(alone->pixel(20, 20) & 0xffffff, qRgb(20, 200, 60) & 0xffffff) << "a left-out window shows";
    EXPECT_EQ(alone->pixel(99, 59) & 0xffffff, qRgb(20, 200, 60) & 0xffffff);

    for (const bool borrowed : {true, false}) {
        const GrabRequest everything {area, {}, false};
        auto composed = borrowed ? (*capture)->grabBorrowed(everything) : (*capture)->grab(everything);
        ASSERT_TRUE(composed);
        EXPECT_EQ(composed->pixel(0, 0) & 0xffffff, qRgb(20, 200, 60) & 0xffffff);
        EXPECT_EQ(composed->pixel(20, 20) & 0xffffff, qRgb(250, 0, 250) & 0xffffff) << "borrowed " << borrowed;
        EXPECT_EQ(composed->pixel(50, 50) & 0xffffff, qRgb(20, 200, 60) & 0xffffff);
    }
    // The copy is opaque, as QImage's RGB32 wants.
    auto copied = (*capture)->grab(GrabRequest {area, {left}, false});
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->pixel(20, 20), qRgb(20, 200, 60));
}

TEST(X11Capture, LostServerGivesAnErrorNotACrash)
{
    PrivateServer server;
    if (!server.running())
        GTEST_SKIP() << "needs Xvfb";
    auto capture = X11Capture::open(server.name());
    ASSERT_TRUE(capture) << capture.error().description.toStdString();

    auto before = (*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {}, true});
    ASSERT_TRUE(before);
    EXPECT_EQ(before->size(), QSize(320, 200));
    EXPECT_EQ(before->format(), QImage::Format_RGB32);

    server.stop();
    auto after = (*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {}, false});
    ASSERT_FALSE(after);
    EXPECT_EQ(after.error().description, QStringLiteral("A conexão com a tela X11 foi perdida."));
    // And it stays an error.
    EXPECT_FALSE((*capture)->grab(GrabRequest {QRect(0, 0, 10, 10), {}, false}));
}

TEST(X11Capture, BadRequestsAndMissingServersAreErrors)
{
    EXPECT_FALSE(X11Capture::open(":199.7"));

    PrivateServer server;
    if (!server.running())
        GTEST_SKIP() << "needs Xvfb";
    auto capture = X11Capture::open(server.name());
    ASSERT_TRUE(capture);
    EXPECT_FALSE((*capture)->grab(GrabRequest {QRect(0, 0, 0, 10), {}, false}));
    // Partly off the desktop: the missing part is background, the size exact.
    auto beyond = (*capture)->grab(GrabRequest {QRect(300, 190, 50, 40), {}, false});
    ASSERT_TRUE(beyond);
    EXPECT_EQ(beyond->size(), QSize(50, 40));
    EXPECT_EQ(beyond->pixel(49, 39), qRgb(0, 0, 0));
    // A window id that does not exist is nothing to leave out.
    EXPECT_TRUE((*capture)->grab(GrabRequest {QRect(0, 0, 320, 200), {0x7fffff}, false}));
    EXPECT_TRUE((*capture)->usedSharedMemory());
}
