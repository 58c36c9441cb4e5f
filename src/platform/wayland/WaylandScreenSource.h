#pragma once

#include "platform/ScreenSource.h"
#include "platform/wayland/Portal.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <memory>

// Where the pointer was last seen. Wayland tells a client nothing about the
// pointer outside its own surfaces, so this is the screen of the last pointer
// event on one of Velunta's windows (an enter, a move; the selection overlay
// covers every screen and so keeps it current). Before any, none.
class WaylandPointer : public QObject {
    Q_OBJECT
public:
    explicit WaylandPointer(QObject *parent = nullptr);
    // The name of the screen the pointer was last seen on.
    QString lastScreen() const { return m_screen; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_screen;
};

// Screens from Qt, pixels from the Screenshot portal.
//
// A screen's id is a hash of its output's name (Wayland has no stable
// numbers for outputs). Its pixel geometry is its frame times its scale: the
// portal's picture covers the whole desktop at that density. Velunta's own
// windows that a capture leaves out are hidden for the time of the picture,
// since no Wayland client can keep a window out of another's capture.
class WaylandScreenSource : public ScreenSource {
public:
    // PORTAL: what the portal offers, perhaps still being asked. Until it
    // is known, captures count as allowed and a grab waits for the answer.
    WaylandScreenSource(QDBusConnection bus, std::shared_ptr<PortalInterfaces> portal);
    ~WaylandScreenSource() override;

    std::vector<DisplayInfo> displays() const override;
    // The centre of the screen the pointer was last seen on, else of the
    // primary screen.
    QPoint pointerPosition() const override;
    bool screenCaptureAllowed() const override;
    QString accessProblem() const override;
    void whenAccessKnown(std::function<void()> then) override;
    QCoro::Task<Result<QImage, PlatformError>> grab(GrabRequest request) override;

    // The id Velunta gives the screen named NAME.
    static DisplayId idForName(const QString &name);
    // Whether AREA lies on SCREEN (pixel rectangles), and the refusal when an
    // area lies on no single screen.
    static bool holdsArea(const QRect &screen, const QRect &area);
    static QString areaOutsideText();

private:
    class Shot;
    QCoro::Task<Result<QImage, PlatformError>> desktopPicture();

    QDBusConnection m_bus;
    std::shared_ptr<PortalInterfaces> m_portal;
    WaylandPointer *m_pointer;
    // The picture being taken; grabs that come while it is pending share it.
    std::shared_ptr<Shot> m_pending;
};

// The part of a desktop picture that shows PIXELS, where DESKTOP is the
// pixel rectangle the picture covers (scaled when the picture has another
// size); parts outside the picture come back black. Opaque RGB32.
QImage cropDesktopPicture(const QImage &picture, const QRect &desktop, const QRect &pixels);
