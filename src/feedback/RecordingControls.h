#pragma once

#include "ClockLabel.h"
#include "ControlsBackground.h"
#include "FirstClickButton.h"
#include "StatusDot.h"
#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QLabel>
#include <QPointer>
#include <QRectF>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class WindowManager;

// The floating bar shown while recording: status dot, elapsed time, pause or
// continue, and stop. It counts the time itself, leaving out the pauses.
// GUI thread only.
class RecordingControls : public QObject {
    Q_OBJECT
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr QSize barSize {176, 48};
    static constexpr qreal margin = 8;
    // A whole-display bar keeps this far above the bottom of the usable area.
    static constexpr qreal bottomOffset = 24;
    static constexpr int tickMs = 250;

    static constexpr QRect dotFrame {14, 19, 10, 10};
    static constexpr QRect timeFrame {30, 14, 56, 20};
    static constexpr QRect pauseFrame {90, 8, 36, 32};
    static constexpr QRect stopFrame {130, 8, 36, 32};

    // The recorded time: the sum of the running stretches.
    struct Clock {
        double accumulated = 0;
        std::optional<TimePoint> runningSince;

        void start(TimePoint now);
        void setPaused(bool paused, TimePoint now);
        double elapsed(TimePoint now) const;
    };

    // Both services outlive the bar; WINDOWMANAGER may be null (then no
    // compositing manager is assumed).
    RecordingControls(ScreenSource &screens, WindowManager *windowManager, QObject *parent = nullptr);
    ~RecordingControls() override;

    // Shows the bar for TARGET and starts the clock at 00:00. The callbacks
    // are called by the pause and stop buttons until hide().
    void show(const CaptureTarget &target, std::function<void()> onTogglePause, std::function<void()> onStop);
    // Freezes or restarts the clock; the dot turns orange and the pause
    // button becomes "continue" while paused.
    void setPaused(bool paused);
    void setPauseEnabled(bool enabled);
    void hide();

    // Where the bar goes, in global coordinates (y down): centred near the
    // bottom of VISIBLE without an AREA; below the area, else above it, else
    // inside it near its bottom, kept 8 points from VISIBLE's sides.
    static QRectF barFrame(const std::optional<QRectF> &area, const QRectF &visible);
    // "MM:SS" of whole seconds, minutes not wrapped.
    static QString timeText(double seconds);

    ControlsBackground *panel() const { return m_panel; }
    QLabel *timeLabel() const { return m_timeLabel; }
    StatusDot *dot() const { return m_dot; }
    FirstClickButton *pauseButton() const { return m_pauseButton; }
    FirstClickButton *stopButton() const { return m_stopButton; }
    const Clock &clock() const { return m_clock; }
    bool isTicking() const { return m_timer.isActive(); }

    // Whether the bar is a panel placed by Velunta (X11) or a window the
    // compositor places (Wayland); the session's rule unless a test sets it.
    bool windowsPlaceable() const { return m_placeable; }
    void setWindowsPlaceable(bool placeable) { m_placeable = placeable; }

    // Tests replace the time source to check the clock without waiting.
    void setTimeSourceForTesting(std::function<TimePoint()> now);

private:
    void makeContent(ControlsBackground *panel);
    void updateTime();
    void pauseClicked();
    void stopClicked();
    TimePoint now() const;

    ScreenSource &m_screens;
    WindowManager *m_windowManager;
    QPointer<ControlsBackground> m_panel;
    QPointer<QLabel> m_timeLabel;
    QPointer<StatusDot> m_dot;
    QPointer<FirstClickButton> m_pauseButton;
    QPointer<FirstClickButton> m_stopButton;
    QTimer m_timer;
    Clock m_clock;
    std::function<void()> m_onTogglePause;
    std::function<void()> m_onStop;
    std::function<TimePoint()> m_now;
    bool m_placeable;
};
