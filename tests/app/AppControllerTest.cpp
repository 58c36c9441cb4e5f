#include "app/ControllerFixture.h"
#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "ui/AppModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using State = AppController::State;

namespace {

class ControllerTest : public ControllerFixture {
protected:
    AppController &controller()
    {
        if (!m_controller) {
            AppController::Services s = services(&statusItem);
            s.windowHideDelayMs = 20;
            s.makeRecorder = [this]() -> std::unique_ptr<CaptureRecorder> {
                auto recorder = std::make_unique<FakeRecorder>(script);
                lastRecorder = recorder.get();
                return recorder;
            };
            m_controller = std::make_unique<AppController>(s, preferences, model.get());
        }
        return *m_controller;
    }

    bool waitForState(State state, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return controller().state() == state; }, ms);
    }

    QStringList savedFiles() const { return QDir(saves.filePath("Velunta")).entryList(QDir::Files); }

    void startFullRecording()
    {
        controller().toggleRecordFull();
        ASSERT_EQ(controller().state(), State::finishing);
        ASSERT_TRUE(waitForState(State::recording));
    }

    FakeStatusItem statusItem;
    FakeRecorder::Script script;
    FakeRecorder *lastRecorder = nullptr;
    QStringList recorderLog;

private:
    std::unique_ptr<AppController> m_controller;
};

} // namespace

TEST_F(ControllerTest, WholeScreenScreenshotIsSavedCopiedAndAnnounced)
{
    controller().screenshotFull();
    EXPECT_EQ(controller().state(), State::finishing);
    EXPECT_TRUE(model->isBusy());
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_FALSE(model->isBusy());

    const QStringList files = savedFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(files[0].startsWith("Print ") && files[0].endsWith(".png")) << files[0].toStdString();
    EXPECT_TRUE(desktop.copiedImage.startsWith("\x89PNG"));
    EXPECT_EQ(toast.titles, QStringList {"Print salvo"});
    EXPECT_EQ(toast.images.first().size(), QSize(320, 200));
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->captures().size() == 1; }, 5000)) << "captures reloaded";
}

TEST_F(ControllerTest, ASecondPressWhileFinishingIsIgnored)
{
    controller().screenshotFull();
    controller().screenshotFull();
    controller().screenshotArea();
    controller().toggleRecordFull();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(savedFiles().size(), 1);
    EXPECT_EQ(screens.grabs.size(), 1u);
    EXPECT_EQ(picker.picks, 0);
}

TEST_F(ControllerTest, CopyingOffLeavesTheClipboardAlone)
{
    preferences.setCopiesScreenshots(false);
    controller().screenshotFull();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(savedFiles().size(), 1);
    EXPECT_TRUE(desktop.copiedImage.isEmpty());
    EXPECT_EQ(toast.titles, QStringList {"Print salvo"});
}

TEST_F(ControllerTest, AFolderThatCannotBeCreatedGivesTheAlertWithTheSystemText)
{
    TestSupport::writeFile(saves.filePath("arquivo"), "x");
    preferences.setSaveFolder(saves.filePath("arquivo/Velunta"));
    controller().screenshotFull();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].message, "Não foi possível capturar a tela");
    EXPECT_TRUE(alerts.shown[0].detail.contains("directory", Qt::CaseInsensitive))
        << alerts.shown[0].detail.toStdString();
    EXPECT_TRUE(alerts.shown[0].warning);
    EXPECT_TRUE(toast.titles.isEmpty());
    EXPECT_TRUE(desktop.copiedImage.isEmpty());
}

TEST_F(ControllerTest, AVanishedDisplayIsReported)
{
    controller().screenshotArea();
    screens.list[0].id = DisplayId(8); // unplugged and another one came while selecting
    picker.answer_(CaptureTarget {7, QRectF(0, 0, 50, 50)});
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].detail, "A tela selecionada não está mais disponível.");
    EXPECT_TRUE(savedFiles().isEmpty());
}

TEST_F(ControllerTest, NoDisplayUnderThePointerDoesNothing)
{
    screens.list.clear();
    controller().screenshotFull();
    controller().toggleRecordFull();
    EXPECT_EQ(controller().state(), State::idle);
    EXPECT_TRUE(alerts.shown.isEmpty());
}

TEST_F(ControllerTest, WithoutPermissionTheAlertOffersTheSettingsAndTheRequestIsDropped)
{
    screens.allowed = false;
    alerts.answer = 0;
    controller().screenshotFull();
    EXPECT_EQ(controller().state(), State::idle);
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].message, "O Velunta precisa de permissão para ver a tela");
    EXPECT_EQ(alerts.shown[0].buttons, (QStringList {"Abrir configurações", "Agora não"}));
    EXPECT_TRUE(screens.grabs.empty());

    alerts.answer = 1;
    controller().toggleRecordArea();
    EXPECT_EQ(controller().state(), State::idle);
    EXPECT_EQ(picker.picks, 0);
}

TEST_F(ControllerTest, WithoutAccessTheAlertNamesWhatIsMissingInsteadOfSavingBlackImages)
{
    screens.allowed = false;
    screens.problem = "Esta sessão Wayland não oferece o portal org.freedesktop.portal.Screenshot.";
    qputenv("XDG_SESSION_TYPE", "wayland");
    controller().screenshotFull();
    qunsetenv("XDG_SESSION_TYPE");
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].detail, screens.problem);
    EXPECT_TRUE(savedFiles().isEmpty());

    screens.problem.clear();
    controller().screenshotFull();
    EXPECT_EQ(alerts.shown[1].detail,
        "Nas configurações de privacidade do sistema, permita que o Velunta grave a tela "
        "e abra o app de novo.");
}

TEST_F(ControllerTest, AreaScreenshotCancelledOrChosen)
{
    controller().screenshotArea();
    EXPECT_EQ(controller().state(), State::selecting);
    EXPECT_TRUE(model->isBusy());
    EXPECT_FALSE(model->isRecording());
    // Everything else is ignored while selecting.
    controller().screenshotFull();
    controller().toggleRecordFull();
    controller().togglePause();
    controller().stopRecording();
    EXPECT_EQ(picker.picks, 1);
    picker.answer_(std::nullopt);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_TRUE(savedFiles().isEmpty());
    EXPECT_TRUE(toast.titles.isEmpty());

    controller().screenshotArea();
    picker.answer_(CaptureTarget {7, QRectF(10, 20, 101, 51)});
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(savedFiles().size(), 1);
    EXPECT_EQ(toast.images.first().size(), QSize(101, 51));
}

TEST_F(ControllerTest, WholeScreenRecordingStartsShowsTheBarAndStopsFromTheSameKey)
{
    script.log = &recorderLog;
    startFullRecording();
    EXPECT_TRUE(model->isRecording());
    EXPECT_TRUE(chrome.visible);
    EXPECT_EQ(statusItem.icons.last(), "recording");
    EXPECT_EQ(recorderLog.first(), "start mic=0 audio=1");
    EXPECT_EQ(controller().statusMenuItems().size(), 2);

    // Screenshot requests are ignored while recording.
    controller().screenshotFull();
    controller().screenshotArea();
    EXPECT_EQ(controller().state(), State::recording);

    controller().toggleRecordFull();
    EXPECT_EQ(controller().state(), State::finishing);
    EXPECT_FALSE(chrome.visible);
    EXPECT_EQ(statusItem.icons.last(), "idle");
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.titles, QStringList {"Gravação salva e copiada"});
    EXPECT_TRUE(toast.paths.first().endsWith(".mp4"));
    EXPECT_TRUE(QFileInfo(toast.paths.first()).fileName().startsWith("Gravação "));
    EXPECT_EQ(desktop.copiedFile, toast.paths.first());
    EXPECT_FALSE(toast.images.first().isNull());
}

TEST_F(ControllerTest, EitherRecordKeyAndTheUnexpectedStopEndARecording)
{
    preferences.setCopiesScreenshots(false);
    startFullRecording();
    controller().toggleRecordArea();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.titles, QStringList {"Gravação salva"});
    EXPECT_TRUE(desktop.copiedFile.isEmpty());

    startFullRecording();
    lastRecorder->stopBySystem();
    EXPECT_EQ(controller().state(), State::finishing);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.titles.size(), 2);
}

TEST_F(ControllerTest, AreaRecordingCancelledComesBackIdle)
{
    controller().toggleRecordArea();
    EXPECT_EQ(controller().state(), State::selecting);
    picker.answer_(std::nullopt);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(lastRecorder, nullptr);

    controller().toggleRecordArea();
    picker.answer_(CaptureTarget {7, QRectF(0, 0, 100, 80)});
    ASSERT_TRUE(waitForState(State::recording));
    EXPECT_EQ(chrome.shownFor, (CaptureTarget {7, QRectF(0, 0, 100, 80)}));
}

TEST_F(ControllerTest, FailedStartAndFailedStopAreReportedAndEndIdle)
{
    script.startError = "O dispositivo está ocupado.";
    controller().toggleRecordFull();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].message, "Não foi possível iniciar a gravação");
    EXPECT_EQ(alerts.shown[0].detail, "O dispositivo está ocupado.");
    EXPECT_FALSE(chrome.visible);

    script.startError.clear();
    script.stopError = "A gravação terminou sem nenhum conteúdo.";
    startFullRecording();
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 2);
    EXPECT_EQ(alerts.shown[1].message, "A gravação falhou");
    EXPECT_TRUE(toast.titles.isEmpty());
}

TEST_F(ControllerTest, PauseShowsAtOnceAndBlocksStopUntilItEnds)
{
    script.holdPause = true;
    script.log = &recorderLog;
    startFullRecording();
    controller().togglePause();
    EXPECT_EQ(chrome.events.mid(0, 2), (QStringList {"disabled", "paused"})) << "shown before the recorder acts";
    controller().stopRecording();
    controller().togglePause();
    EXPECT_EQ(controller().state(), State::recording) << "stop during a pause change is dropped";
    lastRecorder->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chrome.events.last() == "enabled"; }, 5000));
    EXPECT_TRUE(controller().isPaused());
    EXPECT_EQ(controller().statusMenuItems().first().title, "Continuar gravação");

    controller().togglePause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller().isPaused(); }, 5000));
    EXPECT_TRUE(chrome.events.contains("running"));
    EXPECT_EQ(recorderLog.count("pause"), 1);
    EXPECT_EQ(recorderLog.count("stop"), 0);
}

TEST_F(ControllerTest, AFailedResumeStaysPausedAndSaysSo)
{
    script.resumeError = "O áudio não voltou.";
    startFullRecording();
    controller().togglePause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller().isPaused(); }, 5000));
    controller().togglePause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.shown.isEmpty(); }, 5000));
    EXPECT_EQ(alerts.shown[0].message, "Não foi possível continuar a gravação");
    EXPECT_EQ(controller().state(), State::recording);
    EXPECT_TRUE(controller().isPaused());
    EXPECT_TRUE(chrome.paused);
    EXPECT_TRUE(QTest::qWaitFor([&] { return chrome.events.last() == "enabled"; }, 5000));
}

TEST_F(ControllerTest, AMicrophoneRefusalRecordsWithoutItAndKeepsTheSetting)
{
    preferences.setCapturesMicrophone(true);
    preferences.setCapturesSystemAudio(false);
    microphone.granted = false;
    script.log = &recorderLog;
    startFullRecording();
    EXPECT_EQ(microphone.requests, 1);
    EXPECT_EQ(recorderLog.first(), "start mic=0 audio=0");
    EXPECT_TRUE(preferences.capturesMicrophone());
}

TEST_F(ControllerTest, WindowButtonsHideTheWindowWaitAndRestoreIt)
{
    controller();
    windows.visible = true;
    model->actions().screenshotFull();
    EXPECT_FALSE(windows.visible);
    EXPECT_EQ(controller().state(), State::idle) << "the capture waits for the window to go";
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.titles.size() == 1 && controller().state() == State::idle; }));
    EXPECT_TRUE(windows.visible);
    EXPECT_EQ(windows.events, (QStringList {"hide", "show"}));

    // Not visible before: nothing to restore afterwards.
    windows.visible = false;
    windows.events.clear();
    model->actions().recordArea();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller().state() == State::selecting; }));
    picker.answer_(std::nullopt);
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(windows.events, QStringList {"hide"});
}

TEST_F(ControllerTest, HotKeysAreNumberedAndTakenOnesListed)
{
    hotKeys.taken = {Qt::Key_2};
    controller();
    EXPECT_EQ(model->unavailableShortcutKeys(), QStringList {"Alt+Shift+2"});
    EXPECT_EQ(model->unavailableShortcuts().first().title, "Print de uma área");
    ASSERT_EQ(hotKeys.registered.size(), 4);
    for (const QKeyCombination &combination : hotKeys.registered)
        EXPECT_EQ(combination.keyboardModifiers(), Qt::AltModifier | Qt::ShiftModifier);

    hotKeys.press(1); // the taken one: never delivered, and no action
    EXPECT_EQ(controller().state(), State::idle);
    hotKeys.press(0);
    EXPECT_EQ(controller().state(), State::finishing);
    ASSERT_TRUE(waitForState(State::idle));
    hotKeys.press(2);
    ASSERT_TRUE(waitForState(State::recording));
    hotKeys.press(2);
    ASSERT_TRUE(waitForState(State::idle));
}

TEST_F(ControllerTest, HotKeysFoundUnavailableLaterAreListedWithTheReasonAndDoNothing)
{
    hotKeys.taken = {Qt::Key_2};
    controller();
    hotKeys.loseAll("Sem atalhos globais nesta sessão.");
    EXPECT_EQ(
        model->unavailableShortcutKeys(), (QStringList {"Alt+Shift+1", "Alt+Shift+2", "Alt+Shift+3", "Alt+Shift+4"}));
    EXPECT_EQ(model->shortcutsNote(), "Sem atalhos globais nesta sessão.");
    hotKeys.press(0);
    hotKeys.press(2);
    EXPECT_EQ(controller().state(), State::idle);
}

TEST_F(ControllerTest, InitialWindowFollowsTheIntroductionProgress)
{
    controller().showInitialWindow();
    preferences.setOnboardingStep(2);
    controller().showInitialWindow();
    preferences.setOnboardingStep(9);
    controller().showInitialWindow();
    EXPECT_EQ(windows.events, (QStringList {"hide", "onboarding 0", "hide", "onboarding 2", "hide", "onboarding 0"}));

    model->setPage(AppModel::Page::library);
    controller().finishOnboarding();
    EXPECT_TRUE(preferences.hasCompletedOnboarding());
    EXPECT_EQ(preferences.onboardingStep(), 0);
    EXPECT_EQ(model->page(), AppModel::Page::capture);
    windows.events.clear();
    controller().showInitialWindow();
    EXPECT_EQ(windows.events, QStringList {"show"});
}

TEST_F(ControllerTest, SettingsTogglesFlipTheStoredValues)
{
    controller().toggleSystemAudio();
    controller().toggleMicrophone();
    controller().toggleCopy();
    EXPECT_FALSE(preferences.capturesSystemAudio());
    EXPECT_TRUE(preferences.capturesMicrophone());
    EXPECT_FALSE(preferences.copiesScreenshots());
    const auto items = controller().statusMenuItems();
    EXPECT_FALSE(items[8].checked);
    EXPECT_TRUE(items[9].checked);
    EXPECT_FALSE(items[10].checked);
    EXPECT_GE(statusItem.invalidations, 3);
}

TEST_F(ControllerTest, ARecordingSavedWithoutSomeOfItsSoundSaysWhichOnce)
{
    script.missingAudio = {{false, false, "Não foi possível gravar o áudio: sem servidor de som"}};
    startFullRecording();
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.titles, QStringList {"Gravação salva e copiada"});
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].message, "Gravação salva sem o áudio do sistema");
    EXPECT_EQ(alerts.shown[0].detail, "Não foi possível gravar o áudio: sem servidor de som");
    EXPECT_TRUE(alerts.shown[0].warning);

    // Sound that went away while recording is kept up to there: the track is incomplete.
    const QString dropped = "Não foi possível gravar o áudio: a conexão com o servidor de som caiu";
    script.missingAudio = {{false, true, dropped}, {true, false, dropped}};
    startFullRecording();
    lastRecorder->stopBySystem();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 2);
    EXPECT_EQ(alerts.shown[1].message, "Gravação salva com o áudio do sistema incompleto e sem o microfone");
    EXPECT_EQ(alerts.shown[1].detail, dropped);

    // A failed stop has its own alert and nothing about sound.
    script.stopError = "O disco está cheio.";
    startFullRecording();
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 3);
    EXPECT_EQ(alerts.shown[2].message, "A gravação falhou");
}

TEST_F(ControllerTest, TheChosenMicrophoneIsAskedForAndItsAbsenceIsToldOnceAtTheStart)
{
    script.log = &recorderLog;
    microphone.granted = true;
    preferences.setCapturesMicrophone(true);
    preferences.setMicrophoneDevice("alsa_input.usb-headset");
    startFullRecording();
    EXPECT_EQ(recorderLog.value(0), "start mic=1 audio=1 device=alsa_input.usb-headset");
    EXPECT_TRUE(toast.notices.isEmpty());
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));

    script.usesDefaultMicrophone = true;
    startFullRecording();
    EXPECT_EQ(toast.notices, QStringList {"Microfone escolhido não encontrado; usando o padrão do sistema"});
    controller().togglePause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller().isPaused(); }, 5000));
    controller().togglePause();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller().isPaused(); }, 5000));
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.notices.size(), 1) << "a resume says nothing more";
    EXPECT_TRUE(alerts.shown.isEmpty()) << "the recording has its microphone";
}

TEST_F(ControllerTest, AMicrophoneThatCannotBeUsedIsNamedWhenTheSettingIsOn)
{
    preferences.setCapturesMicrophone(true);
    microphone.granted = false;
    startFullRecording();
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].message, "Gravação salva sem o microfone");
    EXPECT_EQ(alerts.shown[0].detail, "");

    // Setting off: nobody asked for a microphone, so none is missing.
    preferences.setCapturesMicrophone(false);
    startFullRecording();
    controller().stopRecording();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(toast.titles.size(), 2);
}

TEST_F(ControllerTest, ARecordingStoppedForLackOfSpaceIsSavedAndTheAlertSaysTheDiskIsFull)
{
    script.lacksSpace = true;
    script.missingAudio = {{true, false, "sem microfone"}};
    startFullRecording();
    lastRecorder->stopBySystem();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_EQ(toast.titles.size(), 1) << "saved as usual";
    ASSERT_EQ(alerts.shown.size(), 1) << "the disk, not the sound";
    EXPECT_EQ(alerts.shown[0].message, "A gravação parou porque o disco está cheio");
    EXPECT_TRUE(alerts.shown[0].detail.contains(QFileInfo(toast.paths.first()).fileName()));

    // Nothing could be saved: the same cause, with the recorder's reason.
    script.stopError = "O disco está cheio.";
    startFullRecording();
    lastRecorder->stopBySystem();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_EQ(alerts.shown.size(), 2);
    EXPECT_EQ(alerts.shown[1].message, "A gravação parou porque o disco está cheio");
    EXPECT_EQ(alerts.shown[1].detail, "O disco está cheio.");
}

TEST_F(ControllerTest, RecoveredRecordingsEachGetAToastOffTheGuiThread)
{
    AppController::Services s = services(&statusItem);
    QStringList folders;
    bool offTheGuiThread = false;
    s.recoverRecordings = [&](const QString &saveFolder) {
        folders << saveFolder;
        offTheGuiThread = QThread::currentThread() != qApp->thread();
        return QStringList {"/v/Gravação A (recuperada).mp4", "/v/Gravação B (recuperada).mp4"};
    };
    AppController controller(s, preferences, model.get());
    auto recovering = controller.recoverRecordings();
    ASSERT_TRUE(QTest::qWaitFor([&] { return toast.titles.size() == 2; }, 5000));
    EXPECT_EQ(folders, QStringList {preferences.saveFolder()});
    EXPECT_TRUE(offTheGuiThread);
    EXPECT_EQ(toast.titles, QStringList({"Gravação recuperada", "Gravação recuperada"}));
    EXPECT_EQ(toast.paths, QStringList({"/v/Gravação A (recuperada).mp4", "/v/Gravação B (recuperada).mp4"}));
    EXPECT_TRUE(alerts.shown.isEmpty());
    EXPECT_EQ(controller.state(), State::idle);
}

TEST_F(ControllerTest, ToldToEndWhileRecordingItClosesTheRecordingForRecoveryAndSavesNothing)
{
    script.log = &recorderLog;
    startFullRecording();
    controller().quitKeepingRecording();
    EXPECT_EQ(controller().state(), State::finishing) << "no other request meanwhile";
    controller().toggleRecordFull();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorderLog.contains("close for recovery"); }, 5000));
    QTest::qWait(20);
    EXPECT_EQ(recorderLog.count("stop"), 0) << "the recording is not delivered";
    EXPECT_TRUE(toast.titles.isEmpty());
    EXPECT_TRUE(savedFiles().isEmpty());
}
