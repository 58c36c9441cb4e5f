#include "Updater.h"

#include "core/Preferences.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QDesktopServices>
#include <QFuture>
#include <QSocketNotifier>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/timerfd.h>
#include <unistd.h>

// A one-shot timer on CLOCK_BOOTTIME. QTimer follows the monotonic clock,
// which stops while the machine is suspended, so a laptop that sleeps most of
// the day would push the 6-hour check out by days.
class BootClockTimer {
public:
    explicit BootClockTimer(std::function<void()> onTimeout)
        : m_fd(::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC))
        , m_onTimeout(std::move(onTimeout))
    {
        if (m_fd < 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
            quint64 expirations = 0;
            if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations && expirations > 0)
                m_onTimeout();
        });
    }
    ~BootClockTimer()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    BootClockTimer(const BootClockTimer &) = delete;
    BootClockTimer &operator=(const BootClockTimer &) = delete;

    bool isValid() const { return m_fd >= 0; }

    void start(std::chrono::milliseconds delay)
    {
        using namespace std::chrono;
        // A zero it_value would disarm the timer instead of firing at once.
        const auto ns = std::max<nanoseconds::rep>(duration_cast<nanoseconds>(delay).count(), 1);
        itimerspec timeout {};
        timeout.it_value.tv_sec = time_t(ns / 1'000'000'000);
        timeout.it_value.tv_nsec = long(ns % 1'000'000'000);
        ::timerfd_settime(m_fd, 0, &timeout, nullptr);
    }

private:
    int m_fd = -1;
    std::function<void()> m_onTimeout;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

Updater::Engine Updater::Engine::system()
{
    Engine engine;
    engine.fetchManifest = [](QUrl url, UpdateConfig config) { return UpdateEngine::fetchManifest(url, config); };
    engine.prepare = [](UpdateManifest manifest, UpdateConfig config, UpdateEngine::ProgressCallback onProgress) {
        return UpdateEngine::prepare(std::move(manifest), std::move(config), std::move(onProgress));
    };
    engine.launchInstaller = [](const PreparedUpdate &update, int timeout, const QStringList &arguments) {
        return UpdateEngine::launchInstaller(update, timeout, arguments);
    };
    engine.canInstallInPlace = [] { return UpdateEngine::canInstallInPlace(); };
    engine.currentBuild = [] { return UpdateEngine::currentBuild(); };
    engine.systemVersion = [] { return UpdateEngine::systemVersion(); };
    engine.openURL = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    engine.terminate = [] { QCoreApplication::quit(); };
    engine.cancelInstaller = [](const PreparedUpdate &update) { UpdateEngine::cancelInstaller(update); };
    return engine;
}

Updater::Updater(Preferences &preferences, std::optional<UpdateConfig> config, QObject *parent)
    : Updater(preferences, std::move(config), Engine::system(), Schedule(), parent)
{
}

Updater::Updater(
    Preferences &preferences, std::optional<UpdateConfig> config, Engine engine, Schedule schedule, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
    , m_config(std::move(config))
    , m_engine(std::move(engine))
    , m_schedule(schedule)
{
}

Updater::~Updater() = default;

void Updater::setCaptureBusyCheck(std::function<bool()> isCaptureBusy)
{
    m_isCaptureBusy = isCaptureBusy ? std::move(isCaptureBusy) : [] { return false; };
}

void Updater::setState(State state)
{
    if (state == m_state)
        return;
    m_state = std::move(state);
    emit stateChanged();
}

void Updater::start()
{
    if (!m_config || m_loop)
        return;
    // The timer belongs to the updater, so the loop cannot outlive it.
    m_loop = std::make_unique<BootClockTimer>([this] { loopTick(); });
    m_loop->start(m_schedule.firstDelay);
}

void Updater::loopTick()
{
    [](QPointer<Updater> self) -> QCoro::Task<void> {
        // Stored false skips the check; absent or true runs it.
        if (self->m_preferences.checksForUpdates()) {
            auto checking = self->check(false);
            co_await std::move(checking);
        }
        if (self && self->m_loop)
            self->m_loop->start(self->m_schedule.period);
    }(QPointer<Updater>(this));
}

QCoro::Task<void> Updater::check(bool isManual)
{
    QPointer<Updater> self(this);
    if (!m_config) {
        if (isManual)
            setState(Failed {UpdateError(UpdateError::notConfigured).message()});
        co_return;
    }
    const bool canStart = std::holds_alternative<Idle>(m_state) || std::holds_alternative<UpToDate>(m_state)
        || std::holds_alternative<Failed>(m_state) || (isManual && std::holds_alternative<Available>(m_state));
    if (!canStart)
        co_return;
    setState(Checking {});

    const UpdateConfig config = *m_config;
    const QUrl url = config.channelURL(m_preferences.usesBetaUpdates());
    auto fetch = m_engine.fetchManifest(url, config);
    const Result<UpdateManifest, UpdateError> fetched = co_await std::move(fetch);
    if (!self)
        co_return;
    if (!fetched) {
        setState(isManual ? State(Failed {fetched.error().message()}) : State(Idle {}));
        co_return;
    }

    const UpdateManifest &manifest = *fetched;
    const auto decision = UpdateEngine::decide(manifest, m_engine.currentBuild(), m_preferences.updateBucket(),
        m_preferences.skippedUpdateBuild(), m_engine.systemVersion(), isManual);
    if (decision == UpdateEngine::Decision::offer)
        setState(Available {manifest});
    else
        setState(isManual ? State(UpToDate {}) : State(Idle {}));
}

QCoro::Task<void> Updater::install()
{
    if (const auto *waiting = std::get_if<WaitingToInstall>(&m_state)) {
        const UpdateManifest manifest = waiting->manifest;
        const PreparedUpdate prepared = waiting->prepared;
        auto launching = launch(manifest, prepared);
        co_await std::move(launching);
        co_return;
    }
    const auto *available = std::get_if<Available>(&m_state);
    if (!available || !m_config)
        co_return;
    const UpdateManifest manifest = available->manifest;
    if (m_engine.canInstallInPlace()) {
        const UpdateConfig config = *m_config;
        auto installing = downloadAndInstall(manifest, config);
        co_await std::move(installing);
        co_return;
    }
    // A copy that cannot replace itself sends the user to the download.
    const QUrl url(manifest.url, QUrl::StrictMode);
    if (url.isValid() && !url.isRelative() && m_config->isAllowed(manifest.url))
        m_engine.openURL(url);
}

QCoro::Task<void> Updater::downloadAndInstall(UpdateManifest manifest, UpdateConfig config)
{
    QPointer<Updater> self(this);
    setState(Downloading {manifest, 0});

    // Reports come from the download's thread; each is replayed on the GUI
    // thread, where it only counts while the download is still shown.
    UpdateEngine::ProgressCallback onProgress = [self, manifest](double fraction) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, manifest, fraction] {
                if (self && std::holds_alternative<Downloading>(self->m_state))
                    self->setState(Downloading {manifest, fraction});
            },
            Qt::QueuedConnection);
    };
    auto preparing = m_engine.prepare(manifest, config, std::move(onProgress));
    const Result<PreparedUpdate, UpdateError> prepared = co_await std::move(preparing);
    if (!self)
        co_return;
    if (!prepared) {
        setState(Failed {prepared.error().message()});
        co_return;
    }
    setState(Verifying {manifest});
    const PreparedUpdate update = *prepared;
    auto launching = launch(manifest, update);
    co_await std::move(launching);
}

QCoro::Task<void> Updater::launch(UpdateManifest manifest, PreparedUpdate prepared)
{
    QPointer<Updater> self(this);
    if (m_launching)
        co_return;
    if (m_isCaptureBusy()) {
        setState(WaitingToInstall {manifest, prepared});
        co_return;
    }
    m_launching = true;
    const auto launchInstaller = m_engine.launchInstaller;
    const auto terminate = m_engine.terminate;
    QFuture<Result<Done, UpdateError>> starting = QtConcurrent::run(
        [launchInstaller, prepared] { return launchInstaller(prepared, installConfirmTimeout, {}); });
    const Result<Done, UpdateError> started = co_await starting;
    if (!started) {
        if (self) {
            self->m_launching = false;
            self->setState(Failed {started.error().message()});
        }
        co_return;
    }
    // A capture may have begun while the helper was being started: it waits
    // for a quit that must not come now, so it goes and the update waits.
    if (self && self->m_isCaptureBusy()) {
        if (self->m_engine.cancelInstaller)
            self->m_engine.cancelInstaller(prepared);
        self->m_launching = false;
        self->setState(WaitingToInstall {manifest, prepared});
        co_return;
    }
    // The helper waits for this process to end before it touches anything.
    terminate();
}

const UpdateManifest *Updater::offeredManifest() const
{
    return std::visit(
        [](const auto &state) -> const UpdateManifest * {
            if constexpr (requires { state.manifest; })
                return &state.manifest;
            else
                return nullptr;
        },
        m_state);
}

QString Updater::offeredVersion() const
{
    const auto *manifest = offeredManifest();
    return manifest ? manifest->version : QString();
}

QString Updater::offeredNotes() const
{
    const auto *manifest = offeredManifest();
    return manifest ? manifest->notes : QString();
}

double Updater::progress() const
{
    const auto *downloading = std::get_if<Downloading>(&m_state);
    return downloading ? downloading->fraction : 0;
}

QString Updater::failureMessage() const
{
    const auto *failed = std::get_if<Failed>(&m_state);
    return failed ? failed->message : QString();
}
