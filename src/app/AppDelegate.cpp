#include "AppDelegate.h"

#include "AppController.h"
#include "MessageBoxAlerts.h"
#include "SingleInstance.h"
#include "StatusItem.h"
#include "TerminationSignals.h"
#include "core/Preferences.h"
#include "diagnostics/SelfTest.h"
#include "diagnostics/UiSnapshots.h"
#include "feedback/RecordingOverlays.h"
#include "feedback/SelectionOverlay.h"
#include "feedback/Toast.h"
#include "platform/PlatformServices.h"
#include "platform/WindowManager.h"
#include "platform/desktop/Autostart.h"
#include "platform/desktop/LinuxDesktop.h"
#include "recording/RecorderAdapter.h"
#include "recording/RecordingRecovery.h"
#include "ui/AppModel.h"
#include "ui/Windows.h"
#include "updater/UpdateLeftovers.h"
#include "updater/UpdateTest.h"
#include "updater/Updater.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// Everything the tray run owns, in the order it is built and torn down.
struct AppDelegate::NormalRun {
    Preferences preferences;
    TerminationSignals termination;
    SingleInstance instance;
    PlatformServices platform;
    std::unique_ptr<WindowManager> windowManager;
    LinuxDesktop desktop;
    MessageBoxAlerts alerts;
    std::unique_ptr<MicrophoneAccess> microphone;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<Toast> toast;
    std::unique_ptr<SelectionOverlay> selection;
    std::unique_ptr<RecordingOverlays> recordingChrome;
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<Windows> windows;
    std::unique_ptr<AppController> controller;
};

AppDelegate::AppDelegate(QStringList arguments, QString workingDirectory, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_workingDirectory(std::move(workingDirectory))
    , m_options(LaunchOptions::parse(m_arguments, m_workingDirectory))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::confirmUpdateIfNeeded(const QStringList &arguments, const QString &workingDirectory)
{
    if (auto marker = LaunchOptions::argumentValue(arguments, QStringLiteral("--update-confirm"), workingDirectory)) {
        // Whether this works is not looked at: the helper times out and rolls back.
        const int fd = ::open(QFile::encodeName(*marker).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    const qsizetype at = arguments.indexOf(QStringLiteral("--update-rolled-back"));
    if (at >= 0 && at + 1 < arguments.size()) {
        const QString text = arguments.at(at + 1);
        bool ok = false;
        const qint64 build = text.toLongLong(&ok);
        // Decimal only, with an optional sign: toLongLong alone would take spaces.
        static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
        if (ok && decimal.match(text).hasMatch())
            Preferences().setSkippedUpdateBuild(build);
    }
}

bool AppDelegate::applicationDidFinishLaunching()
{
    using Mode = LaunchOptions::Mode;
    UpdateLeftovers::sweepInBackground();
    switch (m_options.mode) {
    case Mode::updateReport: {
        const QString report = m_options.path;
        runTool([report]() -> QCoro::Task<void> {
            UpdateTest::writeRunningReport(report, Preferences());
            co_return;
        });
        return true;
    }
    case Mode::mergeTest: {
        const QString folder = m_options.path;
        runTool([folder]() -> QCoro::Task<void> { co_await SelfTest::runMerge(folder); });
        return true;
    }
    case Mode::updateTest: {
        const LaunchOptions options = m_options;
        runTool([options]() -> QCoro::Task<void> {
            co_await UpdateTest::run(options.manifest, options.path, options.install, options.isManual);
        });
        return true;
    }
    case Mode::selfTest: {
        const QString folder = m_options.path;
        runTool([folder]() -> QCoro::Task<void> {
            PlatformServices platform = PlatformServices::create();
            const std::unique_ptr<WindowManager> windowManager = WindowManager::create();
            auto running = SelfTest::run(folder, platform, *windowManager);
            co_await running;
        });
        return true;
    }
    case Mode::uiSnapshots: {
        const QString folder = m_options.path;
        // "--ui-samples" with nothing after it counts as absent.
        const std::optional<QString> samples
            = LaunchOptions::argumentValue(m_arguments, QStringLiteral("--ui-samples"), m_workingDirectory);
        runTool([folder, samples]() -> QCoro::Task<void> {
            const Preferences user;
            co_await UiSnapshots::run(folder, user, samples);
        });
        return true;
    }
    case Mode::normal:
        return startNormalRun();
    case Mode::help:
    case Mode::version:
        return false; // printed before the application object existed
    }
    return true;
}

void AppDelegate::runTool(std::function<QCoro::Task<void>()> operation)
{
    // The operation runs inside the event loop, which must be running first.
    QTimer::singleShot(0, this, [operation = std::move(operation)]() {
        [](std::function<QCoro::Task<void>()> op) -> QCoro::Task<void> {
            co_await op();
            QCoreApplication::quit();
        }(operation);
    });
}

bool AppDelegate::startNormalRun()
{
    m_normal = std::make_unique<NormalRun>();
    NormalRun &run = *m_normal;
    if (!run.instance.claim(m_options.action, m_options.background))
        return false;
    connect(&run.instance, &SingleInstance::reopenRequested, this, &AppDelegate::applicationShouldHandleReopen);
    connect(&run.instance, &SingleInstance::actionRequested, this, &AppDelegate::performAction);
    // Entries from before "--background" opened the main window at every login.
    Autostart autostart;
    if (!autostart.updateOldEntry())
        qWarning("%s", qUtf8Printable(autostart.errorText()));

    run.platform = PlatformServices::create(&run.preferences);
    run.microphone = PlatformServices::createMicrophone();
    ScreenSource *screens = run.platform.screens.get();
    AppModel::Services modelServices;
    modelServices.desktop = &run.desktop;
    modelServices.microphone = run.microphone.get();
    modelServices.screenPreflight = [screens] { return screens->screenCaptureConsented(); };
    modelServices.screenRequest = [screens] { return screens->requestScreenCapture(); };
    modelServices.asksToShareScreen = isWaylandSession();
    modelServices.screenProblem = [screens] { return screens->accessProblem(); };
    run.updater = std::make_unique<Updater>(run.preferences, UpdateConfig::fromBundle());
    modelServices.updater = run.updater.get();
    modelServices.preferences = &run.preferences;
    run.model = std::make_unique<AppModel>(modelServices);
    run.toast = std::make_unique<Toast>(&run.desktop);
    run.windowManager = WindowManager::create();
    run.selection = std::make_unique<SelectionOverlay>(*screens, *run.windowManager);
    run.recordingChrome = std::make_unique<RecordingOverlays>(*screens, run.windowManager.get());
    run.statusItem = std::make_unique<StatusItem>(
        [&run] { return run.controller ? run.controller->statusMenuItems() : QList<StatusMenu::Item>(); },
        [&run](StatusMenu::Action action) {
            if (run.controller)
                run.controller->perform(action);
        },
        run.preferences);

    AppController::Services services;
    services.screens = screens;
    services.hotKeys = run.platform.hotKeys.get();
    services.desktop = &run.desktop;
    services.microphone = run.microphone.get();
    services.alerts = &run.alerts;
    services.toast = run.toast.get();
    services.statusItem = run.statusItem.get();
    run.windows = std::make_unique<Windows>(run.preferences, *run.model);
    run.windows->setScreenCaptureRequest([screens] { return screens->requestScreenCapture(); });
    services.windows = run.windows.get();
    services.picker = run.selection.get();
    services.chrome = run.recordingChrome.get();
    FrameSource *frames = run.platform.frames.get();
    AudioSource *audio = run.platform.audio.get();
    services.makeRecorder = [screens, frames, audio] { return makeScreenRecorder(*screens, *frames, *audio); };
    services.recoverRecordings = [](const QString &saveFolder) {
        return RecordingRecovery::recoverAll(SegmentFolder::roots(saveFolder), saveFolder, SegmentFolder::lookUpProcess,
            SegmentFolder::currentProgramName());
    };
    run.controller = std::make_unique<AppController>(services, run.preferences, run.model.get());
    run.termination.onTermination = [&run] {
        if (run.controller)
            run.controller->quitKeepingRecording();
        else
            QCoreApplication::quit();
    };
    MainMenu::Actions menu;
    menu.showSettings = [&run] {
        if (run.controller)
            run.controller->showSettings();
    };
    menu.showMainWindow = [&run] {
        if (run.controller)
            run.controller->showMainWindow();
    };
    menu.checkForUpdates = [&run] {
        if (run.controller)
            run.controller->checkForUpdates();
    };
    run.windows->setMenuActions(menu);
    run.statusItem->invalidate();
    run.controller->recoverRecordings();
    // Started for a capture, the main window would only be in the way (and in
    // the picture), and started at login it is not wanted at all; the
    // introduction still comes first for a new user.
    const bool quietStart = m_options.action != LaunchOptions::Action::none || m_options.background;
    if (!quietStart || !run.preferences.hasCompletedOnboarding())
        run.controller->showInitialWindow();
    if (m_options.action != LaunchOptions::Action::none) {
        // Once the window system has said whether captures can see the
        // screen (a Wayland portal answers in the background), so that a
        // refusal is the right one.
        const LaunchOptions::Action action = m_options.action;
        const QPointer<AppDelegate> self(this);
        screens->whenAccessKnown([self, action] {
            if (self)
                QTimer::singleShot(0, self.data(), [self, action] { self->performAction(action); });
        });
    }
    return true;
}

void AppDelegate::performAction(LaunchOptions::Action action)
{
    if (!m_normal || !m_normal->controller)
        return;
    AppController &controller = *m_normal->controller;
    // The same methods as Alt+Shift+1…4, so the same rules for a busy controller.
    switch (action) {
    case LaunchOptions::Action::screenshot:
        controller.screenshotFull();
        break;
    case LaunchOptions::Action::screenshotArea:
        controller.screenshotArea();
        break;
    case LaunchOptions::Action::record:
        controller.toggleRecordFull();
        break;
    case LaunchOptions::Action::recordArea:
        controller.toggleRecordArea();
        break;
    case LaunchOptions::Action::none:
        break;
    }
}

void AppDelegate::applicationShouldHandleReopen()
{
    if (!m_normal || !m_normal->controller || !m_normal->windows)
        return;
    // Only the application's own windows count: the tray icon and the toast
    // are windows too, and always or often visible.
    Windows &windows = *m_normal->windows;
    QWindow *introduction = windows.onboardingWindow();
    if (introduction && introduction->isVisible()) {
        introduction->raise();
        introduction->requestActivate();
    } else if (windows.isMainWindowVisible())
        windows.showMainWindow(); // in front again
    else
        m_normal->controller->showInitialWindow();
}
