#include "recording/RecorderAdapter.h"

#include "recording/SegmentWriter.h"

RecorderAdapter::RecorderAdapter(ScreenSource &screens, FrameSource &frames, AudioSource &audio)
    : m_service(std::make_unique<LiveSegmentCapture>(frames, audio))
    , m_recorder(std::make_unique<ScreenRecorder>(screens, *m_service))
{
    m_recorder->onUnexpectedStop = [this] {
        if (onUnexpectedStop)
            onUnexpectedStop();
    };
}

// The recorder goes first: its stream uses the service's threads.
RecorderAdapter::~RecorderAdapter()
{
    m_recorder.reset();
}

bool RecorderAdapter::isPaused() const
{
    return m_recorder->isPaused();
}

QCoro::Task<Result<Done, QString>> RecorderAdapter::start(CaptureTarget target, QString path, Options options)
{
    m_recorder->setMicrophoneDevice(options.microphoneDevice);
    auto started = co_await m_recorder->start(
        target, std::move(path), ScreenRecorder::Options {options.capturesSystemAudio, options.capturesMicrophone});
    if (!started)
        co_return Result<Done, QString>::failure(started.error().description());
    co_return Done {};
}

QCoro::Task<Result<QString, QString>> RecorderAdapter::stop()
{
    auto stopped = co_await m_recorder->stop();
    if (!stopped)
        co_return Result<QString, QString>::failure(stopped.error().description());
    co_return *stopped;
}

QCoro::Task<void> RecorderAdapter::pause()
{
    co_await m_recorder->pause();
}

QCoro::Task<Result<Done, QString>> RecorderAdapter::resume()
{
    auto resumed = co_await m_recorder->resume();
    if (!resumed)
        co_return Result<Done, QString>::failure(resumed.error().description());
    co_return Done {};
}

QCoro::Task<void> RecorderAdapter::closeForRecovery()
{
    co_await m_recorder->closeForRecovery();
}

bool RecorderAdapter::usesDefaultMicrophone() const
{
    return m_recorder->usesDefaultMicrophone();
}

QList<CaptureRecorder::MissingAudio> RecorderAdapter::missingAudio() const
{
    QList<MissingAudio> missing;
    for (const ScreenRecorder::MissingAudio &audio : m_recorder->missingAudio())
        missing.append({audio.source == SoundSource::microphone, audio.isPartial, audio.reason.description});
    return missing;
}

std::unique_ptr<CaptureRecorder> makeScreenRecorder(ScreenSource &screens, FrameSource &frames, AudioSource &audio)
{
    return std::make_unique<RecorderAdapter>(screens, frames, audio);
}
