#pragma once

// Fakes of everything the capture controller drives, for tests of its rules.
#include "core/ControllerPorts.h"
#include "platform/HotKeySource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/desktop/DesktopServices.h"
#include "support/FakeScreenSource.h"

#include <QCoroSignal>
#include <QCoroTimer>
#include <QObject>

// One 320x200 screen under the pointer, whose grabs come back blue.
class FakeScreens : public FakeScreenSource {
public:
    FakeScreens()
    {
        list = {{DisplayId(7), "FAKE0", QRect(0, 0, 320, 200), QRect(0, 0, 320, 200), 1.0, true}};
        pointer = {10, 10};
        fill = QColor(10, 120, 200);
    }
};

class FakeHotKeySource : public HotKeySource {
public:
    QList<int> registerShortcuts(const QList<QKeyCombination> &combinations) override
    {
        QList<int> failed;
        for (const QKeyCombination &combination : combinations) {
            registered << combination;
            if (taken.contains(combination.key()))
                failed << next;
            ++next;
        }
        return failed;
    }
    void press(int index) { emit pressed(index); }
    // As a source that learns late that the session has no global shortcuts.
    void loseAll(QString why)
    {
        reason = std::move(why);
        QList<int> all;
        for (int i = 0; i < next; ++i)
            if (!taken.contains(registered[i].key()))
                all << i;
        emit becameUnavailable(all);
    }
    QString unavailableReason() const override { return reason; }

    QList<Qt::Key> taken;
    QString reason;
    QList<QKeyCombination> registered;
    int next = 0;
};

class FakeDesktopServices : public DesktopServices {
public:
    void openUrl(const QUrl &url) override { opened << url; }
    void reveal(const QString &) override { }
    bool moveToTrash(const QString &) override { return true; }
    std::optional<QString> chooseFolder(const QString &) override { return std::nullopt; }
    void openPrivacyPane(const QString &anchor) override { panes << anchor; }
    void copyImage(const QByteArray &png) override { copiedImage = png; }
    void copyFile(const QString &path) override { copiedFile = path; }

    QList<QUrl> opened;
    QStringList panes;
    QByteArray copiedImage;
    QString copiedFile;
};

class FakeMicrophone : public MicrophoneAccess {
public:
    int status() const override { return granted ? authorized : denied; }
    QCoro::Task<bool> requestAccess() override
    {
        ++requests;
        co_return granted;
    }
    bool granted = false;
    int requests = 0;
};

class FakeAlerts : public Alerts {
public:
    struct Shown {
        QString message, detail;
        QStringList buttons;
        bool warning;
    };
    int show(const QString &message, const QString &detail, const QStringList &buttons, bool warning) override
    {
        shown.append({message, detail, buttons, warning});
        return answer;
    }
    QList<Shown> shown;
    int answer = 1;
};

class FakeToast : public CaptureNotifier {
public:
    void show(const QString &title, const QString &path, const QImage &image) override
    {
        titles << title;
        paths << path;
        images << image;
    }
    void showNotice(const QString &text) override { notices << text; }
    QCoro::Task<QImage> videoThumbnail(QString) override
    {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(Qt::gray);
        co_return image;
    }
    QStringList titles, paths, notices;
    QList<QImage> images;
};

// Holds each pick open until the test answers it.
class FakePicker : public QObject, public AreaPicker {
    Q_OBJECT
public:
    QCoro::Task<std::optional<CaptureTarget>> pick() override
    {
        ++picks;
        co_await qCoro(this, &FakePicker::answered);
        co_return answer;
    }
    void answer_(std::optional<CaptureTarget> target)
    {
        answer = target;
        emit answered();
    }
    std::optional<CaptureTarget> answer;
    int picks = 0;
signals:
    void answered();
};

class FakeChrome : public RecordingChrome {
public:
    void show(const CaptureTarget &target, std::function<void()> pause, std::function<void()> stop) override
    {
        shownFor = target;
        visible = true;
        onTogglePause = std::move(pause);
        onStop = std::move(stop);
    }
    void hide() override { visible = false; }
    void setPaused(bool value) override
    {
        events << (value ? "paused" : "running");
        paused = value;
    }
    void setPauseEnabled(bool enabled) override { events << (enabled ? "enabled" : "disabled"); }

    std::optional<CaptureTarget> shownFor;
    bool visible = false;
    bool paused = false;
    QStringList events;
    std::function<void()> onTogglePause, onStop;
};

// A recorder whose steps finish when the test says so (or at once).
class FakeRecorder : public QObject, public CaptureRecorder {
    Q_OBJECT
public:
    struct Script {
        QString startError, stopError, resumeError;
        bool holdStop = false;
        bool holdPause = false;
        QStringList *log = nullptr;
        QList<MissingAudio> missingAudio;
        // The microphone asked for is not there: the default is recorded.
        bool usesDefaultMicrophone = false;
        bool lacksSpace = false;
    };
    explicit FakeRecorder(Script script)
        : m_script(script)
    {
    }

    bool isPaused() const override { return m_paused; }
    QCoro::Task<Result<Done, QString>> start(CaptureTarget, QString path, Options options) override
    {
        m_path = path;
        log(QStringLiteral("start mic=%1 audio=%2").arg(options.capturesMicrophone).arg(options.capturesSystemAudio)
            + (options.microphoneDevice.isEmpty() ? QString() : QStringLiteral(" device=") + options.microphoneDevice));
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (!m_script.startError.isEmpty())
            co_return Result<Done, QString>::failure(m_script.startError);
        co_return Done {};
    }
    QCoro::Task<Result<QString, QString>> stop() override
    {
        log("stop");
        if (m_script.holdStop)
            co_await qCoro(this, &FakeRecorder::released);
        else
            co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (!m_script.stopError.isEmpty())
            co_return Result<QString, QString>::failure(m_script.stopError);
        co_return m_path;
    }
    QCoro::Task<void> pause() override
    {
        log("pause");
        if (m_script.holdPause)
            co_await qCoro(this, &FakeRecorder::released);
        m_paused = true;
    }
    QCoro::Task<Result<Done, QString>> resume() override
    {
        log("resume");
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (!m_script.resumeError.isEmpty())
            co_return Result<Done, QString>::failure(m_script.resumeError);
        m_paused = false;
        co_return Done {};
    }
    QCoro::Task<void> closeForRecovery() override
    {
        log("close for recovery");
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    }
    QList<MissingAudio> missingAudio() const override { return m_script.missingAudio; }
    bool usesDefaultMicrophone() const override { return m_script.usesDefaultMicrophone; }
    bool stoppedForLackOfSpace() const override { return m_script.lacksSpace; }
    void release() { emit released(); }
    void stopBySystem() { onUnexpectedStop(); }

signals:
    void released();

private:
    void log(const QString &line)
    {
        if (m_script.log)
            m_script.log->append(line);
    }
    Script m_script;
    QString m_path;
    bool m_paused = false;
};

class FakeWindows : public WindowHost {
public:
    bool isMainWindowVisible() const override { return visible; }
    void hideMainWindow() override
    {
        visible = false;
        events << "hide";
    }
    void showMainWindow() override
    {
        visible = true;
        events << "show";
    }
    void showOnboarding(int step) override { events << QStringLiteral("onboarding %1").arg(step); }
    void closeOnboarding() override { events << "close onboarding"; }
    bool visible = false;
    QStringList events;
};

class FakeStatusItem : public StatusItemHost {
public:
    void showIdleIcon() override { icons << "idle"; }
    void showRecordingIcon() override { icons << "recording"; }
    void invalidate() override { ++invalidations; }
    QStringList icons;
    int invalidations = 0;
};
