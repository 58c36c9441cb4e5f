// The full self-test: every check drives the real capture, recording and
// overlay code on the screens of this machine and leaves one report line.
//
// g++ 12 destroys temporaries that live across a co_await twice (braced
// lists, lambdas passed straight to QtConcurrent::run, strings built inside
// the awaited call): every task and future is a named local before it is
// awaited, and so is everything passed to it.
#include "diagnostics/SelfTest.h"

#include "capture/CaptureEngine.h"
#include "diagnostics/SelfTestReport.h"
#include "feedback/RecordingControls.h"
#include "feedback/SelectionOverlay.h"
#include "platform/PlatformServices.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"
#include "platform/media/FrameExtractor.h"
#include "platform/media/MediaAsset.h"
#include "recording/RecorderAdapter.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QSaveFile>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>

using namespace std::chrono_literals;

namespace SelfTest {

namespace {

constexpr auto clipboardTimeout = 3s;
// The drag the selection check simulates, in the first overlay window.
constexpr QPointF dragFrom {500, 400};
constexpr QPointF dragTo {100, 100};
constexpr QRectF expectedSelection {100, 100, 400, 300};

const ScreenRecorder::Options recordingOptions {true, false};

// What the checks share.
struct Context {
    PlatformServices &platform;
    ScreenSource &screens;
    WindowManager &windowManager;
    QDir folder;
    SelfTestReport &report;
    // Wayland: windows go where the compositor puts them, and every window
    // of the application shows in captures and recordings.
    bool onWayland = false;
};

QString failLine(const QString &name, const QString &why)
{
    return QStringLiteral("FAIL ") + name + QStringLiteral(": ") + why;
}

// A window of the application filled with one colour.
class SolidWindow : public QRasterWindow {
public:
    explicit SolidWindow(QColor colour)
        : m_colour(colour)
    {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        setTitle(QStringLiteral("Velunta autoteste"));
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(QRect(QPoint(), size()), m_colour); }

private:
    QColor m_colour;
};

// An ordinary window of the application, but at a raised level: captures and
// recordings leave it out while it is really on screen.
std::unique_ptr<SolidWindow> magentaWindow(const DisplayInfo &screen, const CaptureTarget &target)
{
    auto window = std::make_unique<SolidWindow>(QColor::fromRgbF(1, 0, 1, 1));
    window->setFlag(Qt::WindowStaysOnTopHint);
    WindowLevel::set(window.get(), WindowLevel::Level::floating);
    const QRectF onScreen = magentaWindowRect(target).translated(screen.frame.topLeft());
    window->setGeometry(onScreen.toRect());
    return window;
}

// An ordinary mid-grey window over the whole area, which recordings keep: a
// desktop that is black there (a bare X server, a black wallpaper) would
// otherwise make every frame count as black.
std::unique_ptr<SolidWindow> backdropWindow(const DisplayInfo &screen, const CaptureTarget &target)
{
    auto window = std::make_unique<SolidWindow>(QColor(0x80, 0x80, 0x80));
    const QRectF area = target.rect.value_or(QRectF(QPointF(), screen.frame.size()));
    window->setGeometry(area.translated(screen.frame.topLeft()).toAlignedRect());
    return window;
}

// Shows the backdrop over its area; on Wayland, where a client cannot place
// its windows, over its whole screen instead.
void showBackdrop(QWindow &window, const DisplayInfo &screen, bool onWayland)
{
    if (!onWayland) {
        window.show();
        return;
    }
    for (QScreen *candidate : QGuiApplication::screens()) {
        if (candidate->name() == screen.name)
            window.setScreen(candidate);
    }
    window.showFullScreen();
}

// Removes an earlier run's file off the GUI thread; errors ignored.
QCoro::Task<void> removeFile(QString path)
{
    const auto remove = [path] { QFile::remove(path); };
    QFuture<void> removing = QtConcurrent::run(remove);
    co_await removing;
}

// The magenta pixels of the target's area captured with nothing left out,
// one pixel per point.
QCoro::Task<Result<int, QString>> magentaCountWithoutExclusion(ScreenSource &screens, CaptureTarget target)
{
    using Answer = Result<int, QString>;
    const auto resolved = CaptureEngine::resolve(screens, target);
    if (!resolved)
        co_return Answer::failure(resolved.error().description());
    const QRectF points = CaptureEngine::sourceRect(*resolved, target);
    GrabRequest request;
    request.pixels = CaptureEngine::pixelRect(*resolved, points);
    request.showsCursor = false;
    auto grabbing = screens.grab(request);
    auto grabbed = co_await grabbing;
    if (!grabbed)
        co_return Answer::failure(grabbed.error().description);
    const QImage image = std::move(*grabbed);
    const QSize size = points.size().toSize();
    const auto count = [image, size] { return magentaCount(image.size() == size ? image : image.scaled(size)); };
    QFuture<int> counting = QtConcurrent::run(count);
    const int found = co_await counting;
    co_return found;
}

// Waits at least DURATION on the monotonic clock, leaving the event loop
// running. Qt's default coarse timers may fire up to 5 % early, which would
// shorten the recordings the checks measure.
QCoro::Task<void> sleepAtLeast(std::chrono::milliseconds duration)
{
    const auto until = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left <= 0ms)
            co_return;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        timer.start(left);
        co_await timer;
    }
}

// Waits on the event loop until CONDITION holds or TIMEOUT passes.
QCoro::Task<bool> waitFor(std::function<bool()> condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            co_return false;
        co_await QCoro::sleepFor(20ms);
    }
    co_return true;
}

// Screenshot of TARGET into NAME.png.
QCoro::Task<void> checkScreenshot(Context &context, QString name, CaptureTarget target)
{
    auto shooting = CaptureEngine::screenshot(context.screens, target);
    auto shot = co_await shooting;
    if (!shot) {
        context.report.record(failLine(name, shot.error().description()));
        co_return;
    }
    auto encoding = CaptureEngine::encodePng(shot->image, shot->scale);
    auto png = co_await encoding;
    if (!png) {
        context.report.record(failLine(name, png.error().description()));
        co_return;
    }
    const QString path = context.folder.filePath(name + QStringLiteral(".png"));
    const QByteArray bytes = *png;
    const auto save = [path, bytes]() -> QString {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return file.errorString();
        return {};
    };
    QFuture<QString> saving = QtConcurrent::run(save);
    const QString error = co_await saving;
    if (!error.isEmpty()) {
        context.report.record(failLine(name, error));
        co_return;
    }
    context.report.record(QStringLiteral("OK %1: %2x%3").arg(name).arg(shot->image.width()).arg(shot->image.height()));
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
    const MediaAsset asset = MediaAsset::open(path);
    const auto duration = asset.duration();
    if (!duration) {
        result.error = duration.error().description;
        return result;
    }
    const auto video = asset.tracks(MediaType::video);
    if (!video) {
        result.error = video.error().description;
        return result;
    }
    auto extractor = FrameExtractor::open(path);
    if (!extractor) {
        result.error = extractor.error().description;
        return result;
    }
    const auto frame = extractor->frame(MediaTime::fromSeconds(2.0, 600));
    if (!frame) {
        result.error = frame.error().description;
        return result;
    }
    result.findings.width = extractor->naturalSize().width();
    result.findings.height = extractor->naturalSize().height();
    result.findings.duration = duration->seconds();
    result.findings.magentaInVideo = magentaCount(*frame);
    result.blackFrame = isBlackFrame(frame->scaled(32, 32));
    return result;
}

// Records TARGET for three seconds with the magenta window and the control
// bar on screen: the recording must not show the window, while a capture that
// leaves nothing out at the same moment does.
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
        const QWindow *shown = backdrop.get();
        const auto exposed = [shown] { return shown->isExposed(); };
        auto exposing = waitFor(exposed, 2s);
        co_await exposing;
    }

    const QString path = context.folder.filePath(name + QStringLiteral(".mp4"));
    auto removing = removeFile(path);
    co_await removing;

    RecorderAdapter adapter(context.screens, *context.platform.frames, *context.platform.audio);
    ScreenRecorder &recorder = adapter.recorder();
    auto starting = recorder.start(target, path, recordingOptions);
    const auto started = co_await starting;
    if (!started) {
        context.report.record(failLine(name, started.error().description()));
        co_return;
    }

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

    auto stopping = recorder.stop();
    const auto stopped = co_await stopping;
    if (!stopped) {
        context.report.record(failLine(name, stopped.error().description()));
        co_return;
    }
    const QString delivered = *stopped;
    const auto inspect = [delivered] { return inspectRecording(delivered); };
    QFuture<RecordedFrame> inspecting = QtConcurrent::run(inspect);
    RecordedFrame recorded = co_await inspecting;
    if (!recorded.error.isEmpty()) {
        context.report.record(failLine(name, recorded.error));
        co_return;
    }
    recorded.findings.magentaWithoutExclusion = *without;
    context.report.record(context.onWayland ? waylandRecordingLine(name, recorded.findings, recorded.blackFrame)
                                            : recordingLine(name, recorded.findings));
}

// What the pause check finds in the file, or why it could not look.
struct PausedFile {
    QString error;
    PauseFindings findings;
};

PausedFile inspectPausedRecording(const QString &path)
{
    PausedFile result;
    const MediaAsset asset = MediaAsset::open(path);
    const auto duration = asset.duration();
    if (!duration) {
        result.error = duration.error().description;
        return result;
    }
    const auto video = asset.tracks(MediaType::video);
    if (!video) {
        result.error = video.error().description;
        return result;
    }
    const auto audio = asset.tracks(MediaType::audio);
    if (!audio) {
        result.error = audio.error().description;
        return result;
    }
    auto extractor = FrameExtractor::open(path);
    if (!extractor) {
        result.error = extractor.error().description;
        return result;
    }
    PauseFindings &findings = result.findings;
    findings.duration = duration->seconds();
    findings.videoTracks = int(video->size());
    findings.audioTracks = int(audio->size());
    for (const double t : sampleTimes(findings.duration, 0.1, 0.25)) {
        const auto frame = extractor->frame(MediaTime::fromSeconds(t, 600), QSize(32, 32));
        if (!frame) {
            result.error = frame.error().description;
            return result;
        }
        ++findings.sampledFrames;
        findings.badFrames += isBlackFrame(*frame);
    }
    return result;
}

// Two seconds, a two-second pause, two more seconds: one file of about four
// seconds, without black frames where the pause was.
QCoro::Task<void> checkPause(Context &context, QString name, CaptureTarget target, DisplayInfo screen)
{
    const std::unique_ptr<SolidWindow> backdrop = backdropWindow(screen, target);
    const auto tidy = qScopeGuard([&backdrop] { backdrop->hide(); });
    showBackdrop(*backdrop, screen, context.onWayland);
    const QWindow *shown = backdrop.get();
    const auto exposed = [shown] { return shown->isExposed(); };
    auto exposing = waitFor(exposed, 2s);
    co_await exposing;

    const QString path = context.folder.filePath(name + QStringLiteral(".mp4"));
    auto removing = removeFile(path);
    co_await removing;

    RecorderAdapter adapter(context.screens, *context.platform.frames, *context.platform.audio);
    ScreenRecorder &recorder = adapter.recorder();
    auto starting = recorder.start(target, path, recordingOptions);
    const auto started = co_await starting;
    if (!started) {
        context.report.record(failLine(name, started.error().description()));
        co_return;
    }
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
    auto stopping = recorder.stop();
    const auto stopped = co_await stopping;
    if (!stopped) {
        context.report.record(failLine(name, stopped.error().description()));
        co_return;
    }

    const QString delivered = *stopped;
    const auto inspect = [delivered] { return inspectPausedRecording(delivered); };
    QFuture<PausedFile> inspecting = QtConcurrent::run(inspect);
    PausedFile paused = co_await inspecting;
    if (!paused.error.isEmpty()) {
        context.report.record(failLine(name, paused.error));
        co_return;
    }
    paused.findings.deliveredRequestedFile = delivered == path;
    paused.findings.segmentReport = recorder.segmentReport();
    context.report.record(pauseLine(name, paused.findings));
}

struct PickState {
    bool answered = false;
    std::optional<CaptureTarget> answer;
};

QCoro::Task<void> pickInto(SelectionOverlay &overlay, std::shared_ptr<PickState> state)
{
    auto picking = overlay.pick();
    state->answer = co_await picking;
    state->answered = true;
}

// The real overlay, driven by a simulated drag from (500, 400) up to
// (100, 100) in the first screen's window.
QCoro::Task<void> checkSelection(Context &context)
{
    // Left alive (and never deleted) should the overlay never answer: a
    // pick still waiting holds on to it.
    auto overlay = std::make_unique<SelectionOverlay>(context.screens, context.windowManager);
    const auto state = std::make_shared<PickState>();
    auto picking = pickInto(*overlay, state);

    auto settling = sleepAtLeast(400ms);
    co_await settling;
    SelectionOverlay *shown = overlay.get();
    const auto showingOrAnswered = [shown, state] { return state->answered || shown->isShowing(); };
    auto appearing = waitFor(showingOrAnswered, 5s);
    co_await appearing;
    overlay->simulateDragForTesting(dragFrom, dragTo);

    const auto answered = [state] { return state->answered; };
    auto answering = waitFor(answered, 5s);
    const bool inTime = co_await answering;
    if (!inTime && !overlay->windows().empty() && overlay->windows().front()) {
        // The drag was not taken: a right click cancels, as a user would.
        SelectionView *view = overlay->windows().front()->view();
        QMouseEvent click(QEvent::MouseButtonPress, QPointF(1, 1), view->mapToGlobal(QPointF(1, 1)), Qt::RightButton,
            Qt::RightButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &click);
        auto cancelling = waitFor(answered, 5s);
        co_await cancelling;
    }
    if (!state->answered) {
        Q_UNUSED(overlay.release());
        context.report.record(QStringLiteral("FAIL selecao: nenhum (a seleção não respondeu)"));
        co_return;
    }

    const std::optional<CaptureTarget> target = state->answer;
    if (target && target->rect && *target->rect == expectedSelection)
        context.report.record(QStringLiteral("OK selecao: ") + rectText(*target->rect));
    else
        context.report.record(QStringLiteral("FAIL selecao: ") + targetText(target));
}

// A file URL offered through the window system's clipboard machinery and
// read back, as an application pasting it would.
QCoro::Task<void> checkClipboard(Context &context)
{
    if (context.onWayland) {
        context.report.record(skipLine(QStringLiteral("clipboard"),
            QStringLiteral("a ida e volta pela seleção do X não existe numa sessão Wayland")));
        co_return;
    }
    const QList<QUrl> written {QUrl::fromLocalFile(QStringLiteral("/tmp/gravação de teste.mp4"))};
    ClipboardProbe *probe = context.platform.clipboard.get();
    const auto roundTrip = [probe, written] { return probe->roundTrip(written, clipboardTimeout); };
    QFuture<Result<QList<QUrl>, QString>> trip = QtConcurrent::run(roundTrip);
    const Result<QList<QUrl>, QString> read = co_await trip;
    if (read && *read == written) {
        context.report.record(QStringLiteral("OK clipboard: arquivo copiado"));
        co_return;
    }
    QString text;
    if (read)
        QDebug(&text).nospace() << *read;
    else
        text = QStringLiteral("nenhum (%1)").arg(read.error());
    context.report.record(QStringLiteral("FAIL clipboard: ") + text);
}

QCoro::Task<void> checkScreen(Context &context, QString label, DisplayInfo screen)
{
    context.report.record(screenLine(label, screen.frame.size(), screen.scale));
    const CaptureTarget whole {*screen.id, std::nullopt};
    const CaptureTarget area {*screen.id, testArea};

    const QString wholeShot = label + QStringLiteral("-print-inteira");
    auto shootingWhole = checkScreenshot(context, wholeShot, whole);
    co_await shootingWhole;
    const QString areaShot = label + QStringLiteral("-print-area");
    auto shootingArea = checkScreenshot(context, areaShot, area);
    co_await shootingArea;

    const QString wholeVideo = label + QStringLiteral("-video-inteira");
    auto recordingWhole = checkRecording(context, wholeVideo, whole, screen);
    co_await recordingWhole;
    const QString areaVideo = label + QStringLiteral("-video-area");
    auto recordingArea = checkRecording(context, areaVideo, area, screen);
    co_await recordingArea;

    const QString pauseVideo = label + QStringLiteral("-video-pausa");
    auto pausing = checkPause(context, pauseVideo, area, screen);
    co_await pausing;
}

} // namespace

QCoro::Task<void> run(QString folderPath, PlatformServices &platform, WindowManager &windowManager)
{
    ScreenSource &screens = *platform.screens;
    SelfTestReport report(folderPath, QStringLiteral("result.txt"));
    // Made before any file is written beside the report.
    const QString folder = folderPath;
    const auto makeFolder = [folder] { QDir().mkpath(folder); };
    QFuture<void> making = QtConcurrent::run(makeFolder);
    co_await making;
    Context context {
        platform, screens, windowManager, QDir(folderPath), report, platform.backend == QLatin1String("wayland")};

    // A Wayland portal is still being asked at start.
    const auto accessKnown = std::make_shared<bool>(false);
    screens.whenAccessKnown([accessKnown] { *accessKnown = true; });
    const auto known = [accessKnown] { return *accessKnown; };
    auto asking = waitFor(known, 10s);
    co_await asking;
    if (!screens.screenCaptureAllowed()) {
        const QString problem = screens.accessProblem();
        report.record(QStringLiteral("FAIL permission: Gravação de Tela não autorizada")
            + (problem.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(problem)));
        auto flushing = report.flush();
        co_await flushing;
        co_return;
    }

    const std::vector<DisplayInfo> displays = screens.displays();
    for (std::size_t i = 0; i < displays.size(); ++i) {
        if (!displays[i].id)
            continue;
        const QString label = QStringLiteral("tela%1").arg(i);
        auto checking = checkScreen(context, label, displays[i]);
        co_await checking;
    }

    report.record(barPlacementLine(&RecordingControls::barFrame));
    auto selecting = checkSelection(context);
    co_await selecting;
    auto copying = checkClipboard(context);
    co_await copying;
    report.record(QStringLiteral("FIM"));
    auto flushing = report.flush();
    co_await flushing;
}

} // namespace SelfTest
