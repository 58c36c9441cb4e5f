#pragma once

#include "core/CaptureTarget.h"
#include "core/Result.h"

#include <QCoroTask>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// The pieces the capture controller drives but does not build itself. Each is
// an interface so that the controller's rules can be tested with fakes; the
// normal run hands it the real windows, overlay, recorder and toast.

// Modal alerts. The application is brought forward first.
class Alerts {
public:
    virtual ~Alerts() = default;
    // Answers the index of the button chosen; BUTTONS empty means one OK button.
    virtual int show(const QString &message, const QString &detail, const QStringList &buttons, bool warning) = 0;
};

// The notice after a saved capture.
class CaptureNotifier {
public:
    virtual ~CaptureNotifier() = default;
    virtual void show(const QString &title, const QString &path, const QImage &image) = 0;
    // A short message about a capture under way, with nothing to open.
    virtual void showNotice(const QString &) { }
    // The first frame of a recording, at most 320 x 320; a null image when it
    // cannot be read.
    virtual QCoro::Task<QImage> videoThumbnail(QString path) = 0;
};

// The area selection: the chosen area as a target, or none when cancelled.
class AreaPicker {
public:
    virtual ~AreaPicker() = default;
    virtual QCoro::Task<std::optional<CaptureTarget>> pick() = 0;
};

// One recording from start to stop. Errors carry their user-facing text.
class CaptureRecorder {
public:
    struct Options {
        bool capturesSystemAudio = true;
        bool capturesMicrophone = false;
        // The sound server's input to record as the microphone; empty for the default.
        QString microphoneDevice;
    };

    // A sound source the recording asked for and lacks, wholly or in part
    // (it went away while recording).
    struct MissingAudio {
        bool isMicrophone = false;
        bool isPartial = false;
        QString reason;
    };

    virtual ~CaptureRecorder() = default;
    // Called on the GUI thread when the system ends the recording by itself
    // (for example when its display goes away).
    std::function<void()> onUnexpectedStop;

    virtual bool isPaused() const = 0;
    virtual QCoro::Task<Result<Done, QString>> start(CaptureTarget target, QString path, Options options) = 0;
    // The final file's path.
    virtual QCoro::Task<Result<QString, QString>> stop() = 0;
    // Does nothing when already paused; never fails.
    virtual QCoro::Task<void> pause() = 0;
    // Does nothing when not paused; on failure the recording stays paused.
    virtual QCoro::Task<Result<Done, QString>> resume() = 0;
    // The program is told to end (the session is closing): the open segment
    // is closed and the recording left where the next start recovers it,
    // instead of being dropped with the recorder.
    virtual QCoro::Task<void> closeForRecovery() { co_return; }
    // After the stop: what sound the saved recording lacks, system audio first.
    virtual QList<MissingAudio> missingAudio() const { return {}; }
    // After a start: the microphone chosen in the settings was not there and
    // the system's default is being recorded instead.
    virtual bool usesDefaultMicrophone() const { return false; }
    // After the stop: whether the recording ended because its disk was full
    // or about to be.
    virtual bool stoppedForLackOfSpace() const { return false; }
};

// What is on screen while recording: the ring around an area and the bar.
class RecordingChrome {
public:
    virtual ~RecordingChrome() = default;
    virtual void show(const CaptureTarget &target, std::function<void()> onTogglePause, std::function<void()> onStop)
        = 0;
    virtual void hide() = 0;
    // Paused: the bar shows "continue" and the ring turns orange.
    virtual void setPaused(bool paused) = 0;
    virtual void setPauseEnabled(bool enabled) = 0;
};

// The application's windows, as far as captures are concerned.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    virtual bool isMainWindowVisible() const = 0;
    virtual void hideMainWindow() = 0;
    // Activates the application and brings the main window to the front.
    virtual void showMainWindow() = 0;
    // Replaces any introduction window with a new one at STEP (0 to 3).
    virtual void showOnboarding(int step) = 0;
    virtual void closeOnboarding() = 0;
};

// The tray icon and its menu.
class StatusItemHost {
public:
    virtual ~StatusItemHost() = default;
    virtual void showIdleIcon() = 0;
    virtual void showRecordingIcon() = 0;
    // The menu's inputs changed: rebuild it.
    virtual void invalidate() = 0;
};
