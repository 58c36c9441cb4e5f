#pragma once

#include "app/HotKeys.h"
#include "app/StatusMenu.h"
#include "core/ControllerPorts.h"
#include "ui/AppModel.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class AppModel;
class DesktopServices;
class HotKeySource;
class MicrophoneAccess;
class Preferences;
class ScreenSource;

// Every capture request arrives here, whatever its source: hot keys, the
// tray menu, window buttons, the recording bar and the recorder itself. A
// small state machine lets at most one capture run; requests that arrive in
// another state are dropped, never queued. The state is mirrored into the
// model's busy flags as soon as it changes.
class AppController : public QObject {
    Q_OBJECT
public:
    enum class State : quint8 { idle, selecting, recording, finishing };
    Q_ENUM(State)

    struct Services {
        ScreenSource *screens = nullptr;
        HotKeySource *hotKeys = nullptr;
        DesktopServices *desktop = nullptr;
        MicrophoneAccess *microphone = nullptr;
        Alerts *alerts = nullptr;
        CaptureNotifier *toast = nullptr;
        AreaPicker *picker = nullptr;
        RecordingChrome *chrome = nullptr;
        WindowHost *windows = nullptr;
        StatusItemHost *statusItem = nullptr;
        std::function<std::unique_ptr<CaptureRecorder>()> makeRecorder;
        // Recovers the recordings a dead Velunta left behind into the save
        // folder given, answering the files made. Blocks: run off the GUI thread.
        std::function<QStringList(const QString &saveFolder)> recoverRecordings;
        // Pause before a capture started from a window, so it is gone first.
        int windowHideDelayMs = 200;
    };

    // PREFERENCES and MODEL are owned by the caller and outlive the controller.
    AppController(Services services, Preferences &preferences, AppModel *model, QObject *parent = nullptr);
    ~AppController() override;

    State state() const { return m_state; }
    AppModel *model() const { return m_model; }
    bool isPaused() const;
    bool restoresWindowAfterCapture() const { return m_restoresWindowAfterCapture; }

    // The tray menu for the current state, settings and folder.
    QList<StatusMenu::Item> statusMenuItems() const;
    void perform(StatusMenu::Action action);

    void showInitialWindow();
    // Recovers, off the GUI thread, what recordings cut off by a crash left
    // behind, with a toast for each file made.
    QCoro::Task<void> recoverRecordings();
    void screenshotFull();
    void screenshotArea();
    void toggleRecordFull();
    void toggleRecordArea();
    void togglePause();
    void stopRecording();
    void showMainWindow();
    void showSettings();
    // The settings page, where the update section shows how the check goes.
    void checkForUpdates();
    void toggleSystemAudio();
    void toggleMicrophone();
    void toggleCopy();
    void openFolder();
    void quit();
    // The program is told to end (the session closing): unlike quit(), a
    // recording in progress is closed and left for the next start to
    // recover; then the event loop quits.
    QCoro::Task<void> quitKeepingRecording();
    void finishOnboarding();
    void showOnboarding(int step);
    // Hides the main window, waits a moment, then runs ACTION.
    void startFromWindow(void (AppController::*action)());

signals:
    void stateChanged(AppController::State state);
    // A capture path ended (saved, failed or cancelled). For tests and the self-test.
    void captureEnded();

private:
    void setState(State state);
    void registerHotKeys();
    void installModelActions();
    bool ensurePermission();
    void restoreWindow();
    void endCapture();
    void alert(const QString &message, const QString &detail);

    QCoro::Task<void> runScreenshotFull(CaptureTarget target);
    QCoro::Task<void> runScreenshotArea();
    QCoro::Task<void> runRecordArea();
    QCoro::Task<void> takeScreenshot(CaptureTarget target);
    QCoro::Task<void> startRecording(CaptureTarget target);
    QCoro::Task<void> runTogglePause();
    QCoro::Task<void> runStop();

    Services m_services;
    Preferences &m_preferences;
    QPointer<AppModel> m_model;
    HotKeys m_hotKeys;
    State m_state = State::idle;
    std::unique_ptr<CaptureRecorder> m_recorder;
    // The microphone setting is on but no microphone could be used.
    bool m_lacksMicrophone = false;
    bool m_isChangingPause = false;
    bool m_restoresWindowAfterCapture = false;
};
