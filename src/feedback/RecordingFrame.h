#pragma once

#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QWidget>

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

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_color = SystemColors::red;
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

    // Whether there is a ring for TARGET: around an area, and only where
    // Velunta places its windows. A Wayland client cannot place a window of
    // the ring's size, and a transparent full-screen window around it takes
    // the clicks meant for the recorded area (mutter, with Qt 6.4: neither
    // WindowTransparentForInput nor an input mask lets them through), so
    // there the area shows only while it is being chosen.
    static bool hasRing(const CaptureTarget &target, bool windowsPlaceable);

    // Shows the ring around the target's rectangle. Does nothing for a
    // whole-display target, a display that is not there, or a session that
    // does not let Velunta place windows.
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
    ScreenSource &m_screens;
    WindowManager *m_windowManager;
    QPointer<RecordingFrameWindow> m_window;
    bool m_placeable;
};
