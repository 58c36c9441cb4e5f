#pragma once

#include "core/ControllerPorts.h"
#include "feedback/RecordingControls.h"
#include "feedback/RecordingFrame.h"

class ScreenSource;
class WindowManager;

// What the capture controller puts on screen while recording: the control
// bar for every recording and the ring around an area recording. Neither is
// ever captured. GUI thread only.
class RecordingOverlays : public QObject, public RecordingChrome {
    Q_OBJECT
public:
    // Both services outlive the overlays; WINDOWMANAGER may be null (then no
    // compositing manager is assumed).
    RecordingOverlays(ScreenSource &screens, WindowManager *windowManager, QObject *parent = nullptr);

    void show(const CaptureTarget &target, std::function<void()> onTogglePause, std::function<void()> onStop) override;
    void hide() override;
    void setPaused(bool paused) override;
    void setPauseEnabled(bool enabled) override;

    RecordingControls &controls() { return m_controls; }
    RecordingFrame &frame() { return m_frame; }

private:
    RecordingFrame m_frame;
    RecordingControls m_controls;
};
