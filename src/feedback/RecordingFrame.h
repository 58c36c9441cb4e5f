#pragma once

#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QWidget>

class QScreen;
class WindowManager;

// The desktop's status colours have no Linux counterpart: these are the
// values users know from other systems' recording indicators.
namespace SystemColors {
inline const QColor red {255, 59, 48};
inline const QColor orange {255, 149, 0};
} // namespace SystemColors

// The ring's window: a 2-point border drawn inside its own frame, so it lies
// just outside the recorded pixels. Clicks pass through it; captures leave it
// out.
class RecordingFrameWindow : public QWidget {
    Q_OBJECT
public:
    // TRANSLUCENT: a compositing manager blends the window; without one only
    // the ring exists (the window is shaped), since a translucent window
    // would come out as an opaque rectangle over the recorded area.
    RecordingFrameWindow(const QRect &frame, bool translucent);
    // Where windows cannot be placed (Wayland): a transparent window that
    // fills SCREEN, asked for in full-screen state on that screen (the one
    // placement a Wayland client can ask for), with the ring drawn at RING
    // (window coordinates) and no input region at all.
    RecordingFrameWindow(QScreen *screen, const QRect &ring);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    // The ring's outer edge in the window's coordinates.
    QRect ring() const { return m_ring; }
    bool coversScreen() const { return m_coversScreen; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color = SystemColors::red;
    QRect m_ring;
    bool m_coversScreen = false;
};

// The outline around an area being recorded. GUI thread only.
class RecordingFrame : public QObject {
    Q_OBJECT
public:
    static constexpr qreal borderWidth = 2;

    // Both services outlive the frame; WINDOWMANAGER may be null (then no
    // compositing manager is assumed).
    RecordingFrame(ScreenSource &screens, WindowManager *windowManager, QObject *parent = nullptr);
    ~RecordingFrame() override;

    // How the ring is shown.
    enum class Kind {
        // Whole-display recordings have none.
        none,
        // A window of the ring's own size, shaped to the ring (X11).
        ringWindow,
        // A click-through window over the whole screen, the ring drawn in it
        // (Wayland, where a window of its own size cannot be placed).
        screenWindow,
    };
    static Kind kindFor(const CaptureTarget &target, bool windowsPlaceable);
    // Whether a screen-filling ring window that the compositor showed on
    // SHOWNON (a screen name) still marks an area of TARGETSCREEN: on any
    // other screen it would frame the wrong place, so it goes.
    static bool keepsScreenWindow(const QString &targetScreen, const QString &shownOn);

    // Shows the ring around the target's rectangle. Does nothing for a
    // whole-display target or a display that is not there.
    void show(const CaptureTarget &target);
    void hide();
    // Red while recording, orange while paused.
    void setPaused(bool paused);

    RecordingFrameWindow *window() const { return m_window; }

    // The session's rule (WindowLevel::canPlaceWindows) unless a test sets it.
    bool windowsPlaceable() const { return m_placeable; }
    void setWindowsPlaceable(bool placeable) { m_placeable = placeable; }

    // The recorded rectangle RECT (points from the top-left of a display
    // whose frame is DISPLAYFRAME) in global coordinates, grown by the
    // border width on every side.
    static QRectF outlineFrame(const QRectF &displayFrame, const QRectF &rect);
    // The border of a window of SIZE: all of it but the inside inset by the
    // border width.
    static QRegion ringRegion(const QSize &size);

private:
    void showOverScreen(const QString &screenName, const QRect &frame);

    ScreenSource &m_screens;
    WindowManager *m_windowManager;
    QPointer<RecordingFrameWindow> m_window;
    bool m_placeable;
};
