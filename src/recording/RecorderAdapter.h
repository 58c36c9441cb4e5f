#pragma once

#include "core/ControllerPorts.h"
#include "recording/ScreenRecorder.h"

#include <memory>

class AudioSource;
class FrameSource;
class ScreenSource;

// The capture controller's recorder: a ScreenRecorder writing live segments
// (the platform's pictures and sound, FFmpeg), with its errors as their
// user-facing text.
class RecorderAdapter : public CaptureRecorder {
public:
    // The sources outlive the recorder.
    RecorderAdapter(ScreenSource &screens, FrameSource &frames, AudioSource &audio);
    ~RecorderAdapter() override;

    bool isPaused() const override;
    QCoro::Task<Result<Done, QString>> start(CaptureTarget target, QString path, Options options) override;
    QCoro::Task<Result<QString, QString>> stop() override;
    QCoro::Task<void> pause() override;
    QCoro::Task<Result<Done, QString>> resume() override;
    QCoro::Task<void> closeForRecovery() override;
    QList<MissingAudio> missingAudio() const override;
    bool usesDefaultMicrophone() const override;
    bool stoppedForLackOfSpace() const override { return m_recorder->stoppedForLackOfSpace(); }

    ScreenRecorder &recorder() { return *m_recorder; }

private:
    std::unique_ptr<SegmentCaptureService> m_service;
    std::unique_ptr<ScreenRecorder> m_recorder;
};

// A new recorder for one recording, finding displays through SCREENS and
// recording from FRAMES and AUDIO (which all outlive it). GUI thread.
std::unique_ptr<CaptureRecorder> makeScreenRecorder(ScreenSource &screens, FrameSource &frames, AudioSource &audio);
