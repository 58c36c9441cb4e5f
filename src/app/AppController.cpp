#include "AppController.h"

#include "capture/CaptureEngine.h"
#include "capture/ScreenshotFile.h"
#include "core/OutputFile.h"
#include "core/Preferences.h"
#include "core/Shortcut.h"
#include "platform/HotKeySource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/ScreenSource.h"
#include "platform/desktop/DesktopServices.h"
#include "ui/AppModel.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <chrono>

namespace {

// The warning after a recording saved without some of the sound it was to
// have: which source is missing, and whether it is missing only in part.
QString missingAudioMessage(const QList<CaptureRecorder::MissingAudio> &missing)
{
    QStringList parts;
    for (const CaptureRecorder::MissingAudio &audio : missing) {
        if (audio.isMicrophone)
            parts << (audio.isPartial ? QStringLiteral("com o microfone incompleto")
                                      : QStringLiteral("sem o microfone"));
        else
            parts << (audio.isPartial ? QStringLiteral("com o áudio do sistema incompleto")
                                      : QStringLiteral("sem o áudio do sistema"));
    }
    return QStringLiteral("Gravação salva ") + parts.join(QStringLiteral(" e "));
}

QString missingAudioDetail(const QList<CaptureRecorder::MissingAudio> &missing)
{
    QStringList reasons;
    for (const CaptureRecorder::MissingAudio &audio : missing)
        if (!audio.reason.isEmpty() && !reasons.contains(audio.reason))
            reasons << audio.reason;
    return reasons.join(QLatin1Char('\n'));
}

QString diskFullMessage()
{
    return QStringLiteral("A gravação parou porque o disco está cheio");
}

} // namespace

AppController::AppController(Services services, Preferences &preferences, AppModel *model, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_preferences(preferences)
    , m_model(model)
    , m_hotKeys(m_services.hotKeys)
{
    if (m_services.statusItem)
        m_services.statusItem->showIdleIcon();
    registerHotKeys();
    installModelActions();
    if (Updater *updater = m_model ? m_model->updater() : nullptr) {
        // Busy whenever a capture runs, and once the controller is gone.
        QPointer<AppController> self(this);
        updater->setCaptureBusyCheck([self] { return !self || self->m_state != State::idle; });
        updater->start();
    }
    connect(m_model, &AppModel::saveFolderChanged, this, [this] {
        if (m_services.statusItem)
            m_services.statusItem->invalidate();
    });
}

AppController::~AppController() = default;

bool AppController::isPaused() const
{
    return m_recorder && m_recorder->isPaused();
}

void AppController::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (m_model) {
        m_model->setBusy(state != State::idle);
        m_model->setRecording(state == State::recording);
    }
    if (m_services.statusItem)
        m_services.statusItem->invalidate();
    emit stateChanged(state);
}

void AppController::registerHotKeys()
{
    using Action = void (AppController::*)();
    static const std::pair<Qt::Key, Action> keys[] = {
        {Qt::Key_1, &AppController::screenshotFull},
        {Qt::Key_2, &AppController::screenshotArea},
        {Qt::Key_3, &AppController::toggleRecordFull},
        {Qt::Key_4, &AppController::toggleRecordArea},
    };
    QList<Shortcut> unavailable;
    for (std::size_t i = 0; i < std::size(keys); ++i) {
        QPointer<AppController> self(this);
        const Action action = keys[i].second;
        // Hot keys act at once: the main window is not hidden first.
        const bool ok = m_hotKeys.registerKey(keys[i].first, [self, action] {
            if (self)
                (self.data()->*action)();
        });
        if (!ok)
            unavailable.append(Shortcut::all()[i]);
    }
    m_model->setUnavailableShortcuts(
        unavailable, m_services.hotKeys ? m_services.hotKeys->unavailableReason() : QString());
    // A source that asks the desktop in the background may learn later that
    // there are no global shortcuts.
    connect(&m_hotKeys, &HotKeys::lost, this, [this](const QList<int> &registrations) {
        if (!m_model)
            return;
        QList<Shortcut> now;
        for (std::size_t i = 0; i < Shortcut::all().size(); ++i) {
            const Shortcut &shortcut = Shortcut::all()[i];
            if (m_model->unavailableShortcuts().contains(shortcut) || registrations.contains(int(i)))
                now.append(shortcut);
        }
        m_model->setUnavailableShortcuts(now, m_services.hotKeys ? m_services.hotKeys->unavailableReason() : QString());
    });
}

void AppController::installModelActions()
{
    QPointer<AppController> self(this);
    auto fromWindow = [self](void (AppController::*action)()) {
        return [self, action] {
            if (self)
                self->startFromWindow(action);
        };
    };
    AppModel::Actions actions;
    actions.screenshotFull = fromWindow(&AppController::screenshotFull);
    actions.screenshotArea = fromWindow(&AppController::screenshotArea);
    actions.recordFull = fromWindow(&AppController::toggleRecordFull);
    actions.recordArea = fromWindow(&AppController::toggleRecordArea);
    actions.stopRecording = [self] {
        if (self)
            self->stopRecording();
    };
    actions.finishOnboarding = [self] {
        if (self)
            self->finishOnboarding();
    };
    actions.replayOnboarding = [self] {
        if (self)
            self->showOnboarding(0);
    };
    m_model->setActions(std::move(actions));
}

QList<StatusMenu::Item> AppController::statusMenuItems() const
{
    StatusMenu::Inputs in;
    in.isRecording = m_state == State::recording;
    in.isPaused = isPaused();
    in.capturesSystemAudio = m_preferences.capturesSystemAudio();
    in.capturesMicrophone = m_preferences.capturesMicrophone();
    in.copiesToClipboard = m_preferences.copiesScreenshots();
    in.saveFolder = m_preferences.saveFolder();
    in.hasUpdateConfiguration = m_model && m_model->updater() && m_model->updater()->isConfigured();
    return StatusMenu::items(in);
}

void AppController::perform(StatusMenu::Action action)
{
    using A = StatusMenu::Action;
    switch (action) {
    case A::none:
        break;
    case A::showMainWindow:
        showMainWindow();
        break;
    case A::screenshotFull:
        screenshotFull();
        break;
    case A::screenshotArea:
        screenshotArea();
        break;
    case A::toggleRecordFull:
        toggleRecordFull();
        break;
    case A::toggleRecordArea:
        toggleRecordArea();
        break;
    case A::toggleSystemAudio:
        toggleSystemAudio();
        break;
    case A::toggleMicrophone:
        toggleMicrophone();
        break;
    case A::toggleCopy:
        toggleCopy();
        break;
    case A::openFolder:
        openFolder();
        break;
    case A::checkForUpdates:
        checkForUpdates();
        break;
    case A::quit:
        quit();
        break;
    case A::togglePause:
        togglePause();
        break;
    case A::stopRecording:
        stopRecording();
        break;
    }
}

bool AppController::ensurePermission()
{
    if (!m_services.screens)
        return false;
    if (m_services.screens->screenCaptureAllowed() || m_services.screens->requestScreenCapture())
        return true;
    // A Wayland session says what it lacks (the portal it needs); elsewhere
    // the system's privacy settings decide.
    const QString problem = m_services.screens->accessProblem();
    const QString detail = !problem.isEmpty() ? problem
        : isWaylandSession()
        ? QStringLiteral("Nesta sessão Wayland o Velunta não consegue ver a tela.")
        : QStringLiteral("Nas configurações de privacidade do sistema, permita que o Velunta grave a tela e "
                         "abra o app de novo.");
    const int choice = m_services.alerts
        ? m_services.alerts->show(QStringLiteral("O Velunta precisa de permissão para ver a tela"), detail,
            {QStringLiteral("Abrir configurações"), QStringLiteral("Agora não")}, false)
        : 1;
    if (choice == 0 && m_model)
        m_model->openPrivacyPane(QStringLiteral("Privacy_ScreenCapture"));
    return false;
}

void AppController::alert(const QString &message, const QString &detail)
{
    if (m_services.alerts)
        m_services.alerts->show(message, detail, {}, true);
}

void AppController::restoreWindow()
{
    if (!m_restoresWindowAfterCapture)
        return;
    m_restoresWindowAfterCapture = false;
    if (m_services.windows)
        m_services.windows->showMainWindow();
}

// The common end of every capture path.
void AppController::endCapture()
{
    setState(State::idle);
    if (m_model)
        m_model->reloadCaptures();
    restoreWindow();
    emit captureEnded();
}

void AppController::startFromWindow(void (AppController::*action)())
{
    if (m_state != State::idle || !ensurePermission())
        return;
    m_restoresWindowAfterCapture = m_services.windows && m_services.windows->isMainWindowVisible();
    if (m_services.windows)
        m_services.windows->hideMainWindow();
    QPointer<AppController> self(this);
    QTimer::singleShot(m_services.windowHideDelayMs, this, [self, action] {
        if (self)
            (self.data()->*action)();
    });
}

void AppController::screenshotFull()
{
    if (m_state != State::idle || !ensurePermission())
        return;
    const auto target = CaptureEngine::displayUnderMouse(*m_services.screens);
    if (!target)
        return;
    setState(State::finishing);
    runScreenshotFull(*target);
}

QCoro::Task<void> AppController::runScreenshotFull(CaptureTarget target)
{
    QPointer<AppController> self(this);
    co_await takeScreenshot(target);
    if (self)
        self->endCapture();
}

void AppController::screenshotArea()
{
    if (m_state != State::idle || !m_services.picker || !ensurePermission())
        return;
    setState(State::selecting);
    runScreenshotArea();
}

QCoro::Task<void> AppController::runScreenshotArea()
{
    QPointer<AppController> self(this);
    const std::optional<CaptureTarget> target = co_await m_services.picker->pick();
    if (!self)
        co_return;
    if (target) {
        self->setState(State::finishing);
        co_await self->takeScreenshot(*target);
        if (!self)
            co_return;
    }
    self->endCapture();
}

QCoro::Task<void> AppController::takeScreenshot(CaptureTarget target)
{
    QPointer<AppController> self(this);
    auto shot = co_await CaptureEngine::screenshot(*m_services.screens, target);
    if (!self)
        co_return;
    if (!shot) {
        self->alert(QStringLiteral("Não foi possível capturar a tela"), shot.error().description());
        co_return;
    }
    auto png = co_await CaptureEngine::encodePng(shot->image, shot->scale);
    if (!self)
        co_return;
    if (!png) {
        self->alert(QStringLiteral("Não foi possível capturar a tela"), png.error().description());
        co_return;
    }
    const QString folder = self->m_preferences.saveFolder();
    const auto path = co_await ScreenshotFile::save(*png, folder);
    if (!self)
        co_return;
    if (!path) {
        self->alert(QStringLiteral("Não foi possível capturar a tela"), path.error());
        co_return;
    }
    if (self->m_preferences.copiesScreenshots() && self->m_services.desktop)
        self->m_services.desktop->copyImage(*png);
    if (self->m_services.toast)
        self->m_services.toast->show(QStringLiteral("Print salvo"), *path, shot->image);
}

void AppController::toggleRecordFull()
{
    if (m_state == State::recording) {
        stopRecording();
        return;
    }
    if (m_state != State::idle || !m_services.makeRecorder || !ensurePermission())
        return;
    const auto target = CaptureEngine::displayUnderMouse(*m_services.screens);
    if (!target)
        return;
    setState(State::finishing);
    startRecording(*target);
}

void AppController::toggleRecordArea()
{
    if (m_state == State::recording) {
        stopRecording();
        return;
    }
    if (m_state != State::idle || !m_services.makeRecorder || !m_services.picker || !ensurePermission())
        return;
    setState(State::selecting);
    runRecordArea();
}

QCoro::Task<void> AppController::runRecordArea()
{
    QPointer<AppController> self(this);
    const std::optional<CaptureTarget> target = co_await m_services.picker->pick();
    if (!self)
        co_return;
    if (!target) {
        self->endCapture();
        co_return;
    }
    self->setState(State::finishing);
    co_await self->startRecording(*target);
}

QCoro::Task<void> AppController::startRecording(CaptureTarget target)
{
    QPointer<AppController> self(this);
    CaptureRecorder::Options options;
    options.capturesSystemAudio = m_preferences.capturesSystemAudio();
    options.microphoneDevice = m_preferences.microphoneDevice();
    if (m_preferences.capturesMicrophone() && m_services.microphone)
        options.capturesMicrophone = co_await m_services.microphone->requestAccess();
    if (!self)
        co_return;
    // Here nobody refuses a microphone: a "no" means there is none to use.
    self->m_lacksMicrophone = self->m_preferences.capturesMicrophone() && !options.capturesMicrophone;

    QString failure;
    std::unique_ptr<CaptureRecorder> recorder;
    auto url = OutputFile::newURL(QStringLiteral("Gravação"), QStringLiteral("mp4"), self->m_preferences.saveFolder());
    if (!url) {
        failure = url.error();
    } else {
        recorder = self->m_services.makeRecorder();
        recorder->onUnexpectedStop = [self] {
            if (self)
                self->stopRecording();
        };
        auto started = co_await recorder->start(target, *url, options);
        if (!self)
            co_return;
        if (!started)
            failure = started.error();
    }
    if (!failure.isNull()) {
        self->setState(State::idle);
        self->alert(QStringLiteral("Não foi possível iniciar a gravação"), failure);
        self->endCapture();
        co_return;
    }
    self->m_recorder = std::move(recorder);
    self->setState(State::recording);
    // Once per recording: later segments open the same way and would only repeat it.
    if (self->m_recorder->usesDefaultMicrophone() && self->m_services.toast)
        self->m_services.toast->showNotice(
            QStringLiteral("Microfone escolhido não encontrado; usando o padrão do sistema"));
    if (self->m_services.chrome) {
        self->m_services.chrome->show(
            target,
            [self] {
                if (self)
                    self->togglePause();
            },
            [self] {
                if (self)
                    self->stopRecording();
            });
    }
    if (self->m_services.statusItem)
        self->m_services.statusItem->showRecordingIcon();
}

void AppController::togglePause()
{
    if (m_state != State::recording || !m_recorder || m_isChangingPause)
        return;
    m_isChangingPause = true;
    if (m_services.chrome)
        m_services.chrome->setPauseEnabled(false);
    runTogglePause();
}

QCoro::Task<void> AppController::runTogglePause()
{
    QPointer<AppController> self(this);
    if (m_recorder->isPaused()) {
        auto resumed = co_await m_recorder->resume();
        if (!self)
            co_return;
        if (resumed) {
            if (self->m_services.chrome)
                self->m_services.chrome->setPaused(false);
        } else {
            self->alert(QStringLiteral("Não foi possível continuar a gravação"), resumed.error());
        }
    } else {
        // The bar and the ring show the pause at once, before the recorder acts.
        if (m_services.chrome)
            m_services.chrome->setPaused(true);
        co_await m_recorder->pause();
        if (!self)
            co_return;
    }
    self->m_isChangingPause = false;
    if (self->m_services.chrome)
        self->m_services.chrome->setPauseEnabled(true);
    if (self->m_services.statusItem)
        self->m_services.statusItem->invalidate();
}

void AppController::stopRecording()
{
    if (m_state != State::recording || !m_recorder || m_isChangingPause)
        return;
    setState(State::finishing);
    if (m_services.chrome)
        m_services.chrome->hide();
    if (m_services.statusItem)
        m_services.statusItem->showIdleIcon();
    runStop();
}

QCoro::Task<void> AppController::runStop()
{
    QPointer<AppController> self(this);
    auto saved = co_await m_recorder->stop();
    if (!self)
        co_return;
    if (saved) {
        QString title = QStringLiteral("Gravação salva");
        if (self->m_preferences.copiesScreenshots() && self->m_services.desktop) {
            self->m_services.desktop->copyFile(*saved);
            title = QStringLiteral("Gravação salva e copiada");
        }
        QImage thumbnail;
        if (self->m_services.toast) {
            thumbnail = co_await self->m_services.toast->videoThumbnail(*saved);
            if (!self)
                co_return;
            self->m_services.toast->show(title, *saved, thumbnail);
        }
        if (self->m_recorder->stoppedForLackOfSpace()) {
            self->alert(diskFullMessage(),
                QStringLiteral("O que foi gravado até aqui está salvo em “%1”.").arg(QFileInfo(*saved).fileName()));
            self->m_recorder.reset();
            self->endCapture();
            co_return;
        }
        QList<CaptureRecorder::MissingAudio> missing = self->m_recorder->missingAudio();
        const bool listsMicrophone = std::any_of(missing.cbegin(), missing.cend(),
            [](const CaptureRecorder::MissingAudio &audio) { return audio.isMicrophone; });
        if (self->m_lacksMicrophone && !listsMicrophone)
            missing.append({true, false, {}});
        if (!missing.isEmpty())
            self->alert(missingAudioMessage(missing), missingAudioDetail(missing));
    } else {
        self->alert(self->m_recorder->stoppedForLackOfSpace() ? diskFullMessage() : QStringLiteral("A gravação falhou"),
            saved.error());
    }
    self->m_recorder.reset();
    self->endCapture();
}

void AppController::showInitialWindow()
{
    if (m_preferences.hasCompletedOnboarding()) {
        showMainWindow();
        return;
    }
    showOnboarding(m_preferences.onboardingStep());
}

QCoro::Task<void> AppController::recoverRecordings()
{
    QPointer<AppController> self(this);
    if (!m_services.recoverRecordings)
        co_return;
    auto recover = m_services.recoverRecordings;
    auto recovering = QtConcurrent::run([recover, folder = m_preferences.saveFolder()] { return recover(folder); });
    const QStringList recovered = co_await recovering;
    if (!self || recovered.isEmpty())
        co_return;
    self->m_model->reloadCaptures();
    for (const QString &path : recovered) {
        if (!self->m_services.toast)
            break;
        const QImage thumbnail = co_await self->m_services.toast->videoThumbnail(path);
        if (!self)
            co_return;
        self->m_services.toast->show(QStringLiteral("Gravação recuperada"), path, thumbnail);
    }
}

void AppController::showOnboarding(int step)
{
    if (!m_services.windows)
        return;
    m_services.windows->hideMainWindow();
    m_services.windows->showOnboarding(step >= 0 && step <= 3 ? step : 0);
}

void AppController::finishOnboarding()
{
    m_preferences.setHasCompletedOnboarding(true);
    m_preferences.setOnboardingStep(0);
    if (m_services.windows)
        m_services.windows->closeOnboarding();
    m_model->setPage(AppModel::Page::capture);
    m_model->reloadCaptures();
    if (m_services.windows)
        m_services.windows->showMainWindow();
}

void AppController::showMainWindow()
{
    m_model->reloadCaptures();
    if (m_services.windows)
        m_services.windows->showMainWindow();
}

void AppController::showSettings()
{
    m_model->setPage(AppModel::Page::settings);
    showMainWindow();
}

void AppController::checkForUpdates()
{
    showSettings();
    if (Updater *updater = m_model->updater())
        updater->checkNow();
}

void AppController::toggleSystemAudio()
{
    m_preferences.setCapturesSystemAudio(!m_preferences.capturesSystemAudio());
    if (m_services.statusItem)
        m_services.statusItem->invalidate();
}

void AppController::toggleMicrophone()
{
    m_preferences.setCapturesMicrophone(!m_preferences.capturesMicrophone());
    if (m_services.statusItem)
        m_services.statusItem->invalidate();
}

void AppController::toggleCopy()
{
    m_preferences.setCopiesScreenshots(!m_preferences.copiesScreenshots());
    if (m_services.statusItem)
        m_services.statusItem->invalidate();
}

void AppController::openFolder()
{
    m_model->openSaveFolder();
}

// A running recording is not finished: nothing reaches the save folder.
void AppController::quit()
{
    QCoreApplication::quit();
}

QCoro::Task<void> AppController::quitKeepingRecording()
{
    if (m_state == State::recording && m_recorder) {
        // No other request while the segment closes.
        setState(State::finishing);
        co_await m_recorder->closeForRecovery();
    }
    // Static: fine even if the controller went meanwhile.
    QCoreApplication::quit();
}
