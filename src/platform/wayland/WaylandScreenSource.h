#pragma once

#include "platform/ScreenSource.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/PortalScreenCast.h"

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
// numbers for outputs). Its scale is the real density of its output, which
// the compositor tells (WaylandOutputs), not Qt's rounded devicePixelRatio;
// its pixel geometry follows from that (DesktopUnits). The portal's picture
// covers the logical desktop at a density read off its size: an area is
// taken to logical units through its screen and from there into the
// picture, pixel for pixel when the densities agree. Velunta's own
// windows that a capture leaves out are hidden for the time of the picture,
// since no Wayland client can keep a window out of another's capture.
//
// Consent: a Wayland desktop asks the user before it shares the screen (the
// ScreenCast portal's dialog) unless the caller brings a restore token from
// an earlier yes. requestScreenCapture() asks once, ahead of any recording,
// with a session that persists until revoked and ends at once; its token is
// kept through TOKENS for the monitor the user picked, where the recordings
// find it, so the first recording there starts without a dialog.
class WaylandScreenSource : public ScreenSource {
public:
    // PORTAL: what the portal offers, perhaps still being asked. Until it
    // is known, captures count as allowed and a grab waits for the answer.
    // TOKENS: where the ScreenCast restore token is kept (none: no consent
    // is ever on record).
    WaylandScreenSource(
        QDBusConnection bus, std::shared_ptr<PortalInterfaces> portal, PortalScreenCast::TokenStore tokens = {});
    ~WaylandScreenSource() override;

    std::vector<DisplayInfo> displays() const override;
    // The centre of the screen the pointer was last seen on, else of the
    // primary screen.
    QPoint pointerPosition() const override;
    bool screenCaptureAllowed() const override;
    // Screenshots need nothing more; recordings need the ScreenCast portal's
    // yes, on record as a restore token.
    bool screenCaptureConsented() const override;
    // Starts asking the ScreenCast portal (its dialog) unless consent is on
    // record or a question is already out; answers whether it is on record
    // now. The answer comes later as a stored token.
    bool requestScreenCapture() override;
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

    struct Consent;
    QDBusConnection m_bus;
    std::shared_ptr<PortalInterfaces> m_portal;
    PortalScreenCast::TokenStore m_tokens;
    std::shared_ptr<Consent> m_consent;
    WaylandPointer *m_pointer;
    // The picture being taken; grabs that come while it is pending share it.
    std::shared_ptr<Shot> m_pending;
};

// The part FROM of PICTURE as an image of SIZE: copied pixel for pixel when
// FROM has that size, else scaled; parts outside the picture come back
// black. Opaque RGB32.
QImage cropPicture(const QImage &picture, const QRect &from, QSize size);

// The part of a desktop picture that shows PIXELS, where DESKTOP is the
// pixel rectangle the picture covers (scaled when the picture has another
// size); parts outside the picture come back black. Opaque RGB32.
QImage cropDesktopPicture(const QImage &picture, const QRect &desktop, const QRect &pixels);
