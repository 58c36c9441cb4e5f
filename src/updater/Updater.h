#pragma once

#include "UpdateConfig.h"
#include "UpdateEngine.h"
#include "UpdateError.h"
#include "UpdateManifest.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class BootClockTimer;
class Preferences;

// The application's update behaviour on top of the stateless engine: the
// state the screens show, the periodic check, manual checks, and the
// download-verify-install sequence that never quits in the middle of a
// capture. Lives on the GUI thread; every state change happens there.
class Updater : public QObject {
    Q_OBJECT
    Q_PROPERTY(int state READ stateIndex NOTIFY stateChanged)
    Q_PROPERTY(QString version READ offeredVersion NOTIFY stateChanged)
    Q_PROPERTY(QString notes READ offeredNotes NOTIFY stateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY stateChanged)
    Q_PROPERTY(QString failureMessage READ failureMessage NOTIFY stateChanged)
    Q_PROPERTY(bool isConfigured READ isConfigured CONSTANT)

public:
    // The cases in the order of State's alternatives (the QML `state` value).
    enum class Kind { available, downloading, verifying, waitingToInstall, failed, idle, checking, upToDate };
    Q_ENUM(Kind)

    struct Available {
        UpdateManifest manifest;
        bool operator==(const Available &) const = default;
    };
    struct Downloading {
        UpdateManifest manifest;
        double fraction = 0;
        bool operator==(const Downloading &) const = default;
    };
    struct Verifying {
        UpdateManifest manifest;
        bool operator==(const Verifying &) const = default;
    };
    struct WaitingToInstall {
        UpdateManifest manifest;
        PreparedUpdate prepared;
        bool operator==(const WaitingToInstall &) const = default;
    };
    struct Failed {
        QString message;
        bool operator==(const Failed &) const = default;
    };
    struct Idle {
        bool operator==(const Idle &) const = default;
    };
    struct Checking {
        bool operator==(const Checking &) const = default;
    };
    struct UpToDate {
        bool operator==(const UpToDate &) const = default;
    };
    using State = std::variant<Available, Downloading, Verifying, WaitingToInstall, Failed, Idle, Checking, UpToDate>;

    // Everything the updater asks of the outside world, so that the state
    // machine can be driven without a network, a helper or a real quit.
    struct Engine {
        std::function<QCoro::Task<Result<UpdateManifest, UpdateError>>(QUrl, UpdateConfig)> fetchManifest;
        std::function<QCoro::Task<Result<PreparedUpdate, UpdateError>>(
            UpdateManifest, UpdateConfig, UpdateEngine::ProgressCallback)>
            prepare;
        // Called on the thread pool: it copies the helper and starts it.
        std::function<Result<Done, UpdateError>(const PreparedUpdate &, int, const QStringList &)> launchInstaller;
        std::function<bool()> canInstallInPlace;
        std::function<qint64()> currentBuild;
        std::function<UpdateEngine::SystemVersion()> systemVersion;
        std::function<void(const QUrl &)> openURL;
        std::function<void()> terminate;
        // Stops a helper started for the update, before it has touched
        // anything; may be left empty.
        std::function<void(const PreparedUpdate &)> cancelInstaller;

        // The real engine, the default browser and the application's quit.
        static Engine system();
    };

    struct Schedule {
        std::chrono::milliseconds firstDelay = std::chrono::seconds(20);
        std::chrono::milliseconds period = std::chrono::hours(6);
    };

    static constexpr int installConfirmTimeout = 30;

    // The real engine on the standard schedule. PREFERENCES (whether to check,
    // the channel, the rollout bucket, a skipped build) outlive the updater.
    Updater(Preferences &preferences, std::optional<UpdateConfig> config, QObject *parent = nullptr);
    Updater(Preferences &preferences, std::optional<UpdateConfig> config, Engine engine, Schedule schedule,
        QObject *parent = nullptr);
    ~Updater() override;

    const State &state() const { return m_state; }
    Kind kind() const { return Kind(m_state.index()); }
    const std::optional<UpdateConfig> &config() const { return m_config; }
    bool isConfigured() const { return m_config.has_value(); }

    // Asked right before quitting to install; the controller answers true
    // while a capture runs (and once it is gone).
    void setCaptureBusyCheck(std::function<bool()> isCaptureBusy);

    // The periodic checks: the first after `firstDelay`, then one `period`
    // after the end of each check, on a clock that keeps counting through
    // suspend. Nothing without a configuration; a second call does nothing.
    void start();
    bool isStarted() const { return m_loop != nullptr; }

    QCoro::Task<void> check(bool isManual);
    QCoro::Task<void> install();

    // Fire-and-forget forms for menus and QML buttons.
    Q_INVOKABLE void checkNow() { check(true); }
    Q_INVOKABLE void installNow() { install(); }
    Q_INVOKABLE bool canInstallInPlace() const { return m_engine.canInstallInPlace(); }

    int stateIndex() const { return int(m_state.index()); }
    QString offeredVersion() const;
    QString offeredNotes() const;
    double progress() const;
    QString failureMessage() const;

signals:
    void stateChanged();

private:
    void setState(State state);
    const UpdateManifest *offeredManifest() const;
    void loopTick();
    QCoro::Task<void> downloadAndInstall(UpdateManifest manifest, UpdateConfig config);
    QCoro::Task<void> launch(UpdateManifest manifest, PreparedUpdate prepared);

    Preferences &m_preferences;
    std::optional<UpdateConfig> m_config;
    Engine m_engine;
    Schedule m_schedule;
    std::function<bool()> m_isCaptureBusy = [] { return false; };
    State m_state = Idle {};
    std::unique_ptr<BootClockTimer> m_loop;
    // Set from the click that starts the helper until the launch has failed
    // or been called off: a second click must not start a second helper.
    bool m_launching = false;
};
