// The full self-test: every check drives the real capture, recording and
// overlay code on the screens of this machine and leaves one report line.
// The checks live beside it by what they check: captures and the clipboard,
// recordings, the area selection.
#include "diagnostics/SelfTest.h"

#include "diagnostics/CaptureChecks.h"
#include "diagnostics/RecordingChecks.h"
#include "diagnostics/SelectionCheck.h"
#include "diagnostics/SelfTestContext.h"
#include "diagnostics/SelfTestReport.h"
#include "feedback/RecordingControls.h"
#include "platform/PlatformServices.h"

#include <QCoroFuture>
#include <QDir>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

using namespace std::chrono_literals;

namespace SelfTest {

namespace {

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
