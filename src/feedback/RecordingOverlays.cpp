#include "RecordingOverlays.h"

RecordingOverlays::RecordingOverlays(ScreenSource &screens, WindowManager *windowManager, QObject *parent)
    : QObject(parent)
    , m_frame(screens, windowManager)
    , m_controls(screens, windowManager)
{
}

void RecordingOverlays::show(
    const CaptureTarget &target, std::function<void()> onTogglePause, std::function<void()> onStop)
{
    // A whole-display recording has no ring, so one left from an earlier
    // area recording must go.
    m_frame.hide();
    m_frame.show(target);
    m_controls.show(target, std::move(onTogglePause), std::move(onStop));
}

void RecordingOverlays::hide()
{
    m_frame.hide();
    m_controls.hide();
}

void RecordingOverlays::setPaused(bool paused)
{
    m_controls.setPaused(paused);
    m_frame.setPaused(paused);
}

void RecordingOverlays::setPauseEnabled(bool enabled)
{
    m_controls.setPauseEnabled(enabled);
}
