#include "RecordingChecks.h"

#include "diagnostics/SelfTest.h"
#include "diagnostics/SelfTestReport.h"
#include "diagnostics/SolidWindow.h"
#include "feedback/RecordingControls.h"
#include "platform/media/FrameExtractor.h"
#include "platform/media/MediaAsset.h"
#include "recording/RecorderAdapter.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>
#include <optional>

using namespace std::chrono_literals;

namespace SelfTest {

namespace {

const ScreenRecorder::Options recordingOptions {true, false};

// A recorded file opened for a look: its length, its tracks and a frame
// reader; or the text of the first of them that could not be read.
struct OpenedRecording {
    MediaTime duration;
    std::vector<MediaTrack> video;
    std::vector<MediaTrack> audio; // read only when asked for
    FrameExtractor frames;
};

Result<OpenedRecording, QString> openRecording(const QString &path, bool readAudio)
{
    using Opened = Result<OpenedRecording, QString>;
    const MediaAsset asset = MediaAsset::open(path);
    auto duration = asset.duration();
    if (!duration)
        return Opened::failure(duration.error().description);
    auto video = asset.tracks(MediaType::video);
    if (!video)
        return Opened::failure(video.error().description);
    std::vector<MediaTrack> audio;
    if (readAudio) {
        auto audioTracks = asset.tracks(MediaType::audio);
        if (!audioTracks)
            return Opened::failure(audioTracks.error().description);
        audio = std::move(*audioTracks);
    }
    auto extractor = FrameExtractor::open(path);
    if (!extractor)
        return Opened::failure(extractor.error().description);
    return OpenedRecording {*duration, std::move(*video), std::move(audio), std::move(*extractor)};
}

// What the recording check finds in the file: size, length and the magenta
// pixels of the frame at 2 s; or why it could not look.
struct RecordedFrame {
    QString error;
    RecordingFindings findings;
    bool blackFrame = false;
};

RecordedFrame inspectRecording(const QString &path)
{
    RecordedFrame result;
    auto opened = openRecording(path, false);
    if (!opened) {
        result.error = opened.error();
        return result;
    }
    const auto frame = opened->frames.frame(MediaTime::fromSeconds(2.0, 600));
    if (!frame) {
        result.error = frame.error().description;
        return result;
    }
    result.findings.width = opened->frames.naturalSize().width();
    result.findings.height = opened->frames.naturalSize().height();
    result.findings.duration = opened->duration.seconds();
    result.findings.magentaInVideo = magentaCount(*frame);
    result.blackFrame = isBlackFrame(frame->scaled(32, 32));
    return result;
}

// What the pause check finds in the file, or why it could not look.
struct PausedFile {
    QString error;
    PauseFindings findings;
};

PausedFile inspectPausedRecording(const QString &path)
{
    PausedFile result;
    auto opened = openRecording(path, true);
    if (!opened) {
        result.error = opened.error();
        return result;
    }
    PauseFindings &findings = result.findings;
    findings.duration = opened->duration.seconds();
    findings.videoTracks = int(opened->video.size());
    findings.audioTracks = int(opened->audio.size());
    for (const double t : sampleTimes(findings.duration, 0.1, 0.25)) {
        const auto frame = opened->frames.frame(MediaTime::fromSeconds(t, 600), QSize(32, 32));
        if (!frame) {
            result.error = frame.error().description;
            return result;
        }
        ++findings.sampledFrames;
        findings.badFrames += isBlackFrame(*frame);
    }
    return result;
}

// Waits, two seconds at most, until WINDOW is on screen.
QCoro::Task<void> exposed(const QWindow *window)
{
    const auto isExposed = [window] { return window->isExposed(); };
    auto exposing = waitFor(isExposed, 2s);
    co_await exposing;
}

// Starts RECORDER on TARGET into PATH, removing what an earlier run left
// there first; false, with the failure reported under NAME, when it does not
// start.
QCoro::Task<bool> startRecording(
    Context &context, const QString &name, ScreenRecorder &recorder, CaptureTarget target, QString path)
{
    auto removing = removeFile(path);
    co_await removing;
    auto starting = recorder.start(target, path, recordingOptions);
    const auto started = co_await starting;
    if (!started)
        context.report.record(failLine(name, started.error().description()));
    co_return bool(started);
}

// Stops RECORDER: the file it delivered, or none, with the failure reported
// under NAME.
QCoro::Task<std::optional<QString>> stopRecording(Context &context, const QString &name, ScreenRecorder &recorder)
{
    auto stopping = recorder.stop();
    const auto stopped = co_await stopping;
    if (!stopped) {
        context.report.record(failLine(name, stopped.error().description()));
        co_return std::nullopt;
    }
    co_return *stopped;
}

// Reads the delivered FILE with INSPECTION off the GUI thread: what it
// found, or none, with its error reported under NAME.
template <typename Found>
QCoro::Task<std::optional<Found>> inspect(
    Context &context, const QString &name, Found (*inspection)(const QString &), QString file)
{
    QFuture<Found> inspecting = QtConcurrent::run(inspection, file);
    Found found = co_await inspecting;
    if (!found.error.isEmpty()) {
        context.report.record(failLine(name, found.error));
        co_return std::nullopt;
    }
    co_return found;
}

} // namespace

QCoro::Task<void> checkRecording(Context &context, QString name, CaptureTarget target, DisplayInfo screen)
{
    const std::unique_ptr<SolidWindow> window = magentaWindow(screen, target);
    // Only on Wayland: there the recording shows whatever lies under the area.
    const std::unique_ptr<SolidWindow> backdrop = backdropWindow(screen, target);
    RecordingControls bar(context.screens, &context.windowManager);
    const auto tidy = qScopeGuard([&window, &backdrop, &bar] {
        window->hide();
        backdrop->hide();
        bar.hide();
    });
    if (context.onWayland) {
        showBackdrop(*backdrop, screen, true);
        auto exposing = exposed(backdrop.get());
        co_await exposing;
    }

    const QString path = context.folder.filePath(name + QStringLiteral(".mp4"));
    RecorderAdapter adapter(context.screens, *context.platform.frames, *context.platform.audio);
    ScreenRecorder &recorder = adapter.recorder();
    auto starting = startRecording(context, name, recorder, target, path);
    if (!co_await starting)
        co_return;

    const auto noPause = [] {};
    const auto quit = [] { QCoreApplication::quit(); };
    bar.show(target, noPause, quit);
    window->show();
    window->raise();
    auto onScreen = sleepAtLeast(3s);
    co_await onScreen;

    auto counting = magentaCountWithoutExclusion(context.screens, target);
    const auto without = co_await counting;
    if (!without) {
        context.report.record(failLine(name, without.error()));
        co_return;
    }

    auto stopping = stopRecording(context, name, recorder);
    const std::optional<QString> stopped = co_await stopping;
    if (!stopped)
        co_return;
    auto inspecting = inspect(context, name, inspectRecording, *stopped);
    std::optional<RecordedFrame> recorded = co_await inspecting;
    if (!recorded)
        co_return;
    recorded->findings.magentaWithoutExclusion = *without;
    context.report.record(context.onWayland ? waylandRecordingLine(name, recorded->findings, recorded->blackFrame)
                                            : recordingLine(name, recorded->findings));
}

QCoro::Task<void> checkPause(Context &context, QString name, CaptureTarget target, DisplayInfo screen)
{
    const std::unique_ptr<SolidWindow> backdrop = backdropWindow(screen, target);
    const auto tidy = qScopeGuard([&backdrop] { backdrop->hide(); });
    showBackdrop(*backdrop, screen, context.onWayland);
    auto exposing = exposed(backdrop.get());
    co_await exposing;

    const QString path = context.folder.filePath(name + QStringLiteral(".mp4"));
    RecorderAdapter adapter(context.screens, *context.platform.frames, *context.platform.audio);
    ScreenRecorder &recorder = adapter.recorder();
    auto starting = startRecording(context, name, recorder, target, path);
    if (!co_await starting)
        co_return;
    auto firstStretch = sleepAtLeast(2s);
    co_await firstStretch;
    if (!recorder.isPaused()) {
        auto pausing = recorder.pause();
        co_await pausing;
    }
    auto pausedStretch = sleepAtLeast(2s);
    co_await pausedStretch;
    if (recorder.isPaused()) {
        auto resuming = recorder.resume();
        const auto resumed = co_await resuming;
        if (!resumed) {
            context.report.record(failLine(name, resumed.error().description()));
            co_return;
        }
    }
    auto secondStretch = sleepAtLeast(2s);
    co_await secondStretch;
    auto stopping = stopRecording(context, name, recorder);
    const std::optional<QString> stopped = co_await stopping;
    if (!stopped)
        co_return;

    auto inspecting = inspect(context, name, inspectPausedRecording, *stopped);
    std::optional<PausedFile> paused = co_await inspecting;
    if (!paused)
        co_return;
    paused->findings.deliveredRequestedFile = *stopped == path;
    paused->findings.segmentReport = recorder.segmentReport();
    context.report.record(pauseLine(name, paused->findings));
}

} // namespace SelfTest
