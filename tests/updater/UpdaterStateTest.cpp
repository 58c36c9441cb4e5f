#include "core/Preferences.h"
#include "support/TestSupport.h"
#include "updater/Updater.h"

#include <QCoreApplication>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

template <typename T> Result<T, UpdateError> failure(UpdateError error)
{
    return Result<T, UpdateError>::failure(std::move(error));
}

// The outside world of one updater: answers set by the test, calls counted.
struct FakeWorld {
    Result<UpdateManifest, UpdateError> fetchResult = failure<UpdateManifest>(UpdateError(UpdateError::server, 404));
    bool holdFetch = false;
    int fetches = 0;
    QUrl lastFetched;
    QElapsedTimer clock;
    QList<qint64> fetchTimes;

    Result<PreparedUpdate, UpdateError> prepareResult = PreparedUpdate {};
    bool holdPrepare = true;
    UpdateEngine::ProgressCallback onProgress;

    Result<Done, UpdateError> launchResult = Done {};
    std::atomic<bool> holdLaunch = false;
    std::atomic<int> launches = 0;
    int cancels = 0;
    std::atomic<int> launchTimeout = -1;
    std::atomic<bool> launchHadArguments = false;

    bool inPlace = true;
    QList<QUrl> opened;
    int terminations = 0;

    Updater::Engine engine()
    {
        Updater::Engine engine;
        // The coroutines take the world as a parameter: a capturing lambda
        // coroutine reads its captures from the lambda object, which dies
        // with the updater while a check may still be suspended.
        engine.fetchManifest = [this](QUrl url, UpdateConfig) { return fetch(this, url); };
        engine.prepare = [this](UpdateManifest, UpdateConfig, UpdateEngine::ProgressCallback progress) {
            return prepare(this, std::move(progress));
        };
        engine.launchInstaller = [this](const PreparedUpdate &, int timeout, const QStringList &arguments) {
            launchTimeout = timeout;
            launchHadArguments = !arguments.isEmpty();
            ++launches;
            while (holdLaunch)
                std::this_thread::sleep_for(1ms);
            return launchResult;
        };
        engine.cancelInstaller = [this](const PreparedUpdate &) { ++cancels; };
        engine.canInstallInPlace = [this] { return inPlace; };
        engine.currentBuild = [] { return qint64(10); };
        engine.systemVersion = [] { return UpdateEngine::SystemVersion {2, 36, 0}; };
        engine.openURL = [this](const QUrl &url) { opened.append(url); };
        engine.terminate = [this] { ++terminations; };
        return engine;
    }

    static QCoro::Task<Result<UpdateManifest, UpdateError>> fetch(FakeWorld *world, QUrl url)
    {
        ++world->fetches;
        world->lastFetched = url;
        world->fetchTimes.append(world->clock.isValid() ? world->clock.elapsed() : 0);
        while (world->holdFetch)
            co_await QCoro::sleepFor(2ms);
        co_return world->fetchResult;
    }

    static QCoro::Task<Result<PreparedUpdate, UpdateError>> prepare(
        FakeWorld *world, UpdateEngine::ProgressCallback progress)
    {
        world->onProgress = std::move(progress);
        while (world->holdPrepare)
            co_await QCoro::sleepFor(2ms);
        co_return world->prepareResult;
    }
};

UpdateConfig config()
{
    return UpdateConfig {QUrl("https://updates.example/velunta"), "key", false};
}

UpdateManifest release(qint64 build = 11)
{
    UpdateManifest manifest;
    manifest.build = build;
    manifest.version = "1.1";
    manifest.url = "https://updates.example/velunta/Velunta-11.zip";
    manifest.sha256 = "ab";
    manifest.size = 10;
    manifest.minimumSystem = "2.31";
    manifest.notes = "Notas";
    return manifest;
}

template <typename Predicate> bool waitFor(Predicate done, std::chrono::milliseconds limit = 5s)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class UpdaterState : public ::testing::Test {
protected:
    void SetUp() override { preferences.setUpdateBucket(60); }

    Updater::Kind run(Updater &updater, bool isManual)
    {
        bool finished = false;
        auto check = [&]() -> QCoro::Task<void> {
            auto checking = updater.check(isManual);
            co_await std::move(checking);
            finished = true;
        };
        auto task = check();
        EXPECT_TRUE(waitFor([&] { return finished; }));
        return updater.kind();
    }

    QTemporaryDir settingsDir;
    Preferences preferences {settingsDir.filePath("Velunta.conf")};

    // Build 11 found, downloaded and prepared while BUSY says a capture runs:
    // UPDATER waits to install it.
    void waitToInstall(Updater &updater, const bool &busy)
    {
        updater.setCaptureBusyCheck([&busy] { return busy; });
        world.fetchResult = release(11);
        run(updater, true);
        world.prepareResult
            = PreparedUpdate {11, QUrl::fromLocalFile("/tmp/w/app/Velunta.app"), QUrl::fromLocalFile("/tmp/w")};
        world.holdPrepare = false;
        auto installing = updater.install();
        ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::waitingToInstall; }));
    }

    FakeWorld world;
};

} // namespace

TEST_F(UpdaterState, WithoutConfigurationOnlyAManualCheckSpeaks)
{
    Updater updater(preferences, std::nullopt, world.engine(), {});
    updater.start();
    EXPECT_FALSE(updater.isStarted());
    EXPECT_EQ(run(updater, false), Updater::Kind::idle);
    EXPECT_EQ(run(updater, true), Updater::Kind::failed);
    EXPECT_EQ(updater.failureMessage(), "As atualizações não estão configuradas nesta versão.");
    EXPECT_EQ(world.fetches, 0);
}

TEST_F(UpdaterState, ManualAndAutomaticChecksEndDifferently)
{
    Updater updater(preferences, config(), world.engine(), {});

    world.fetchResult = failure<UpdateManifest>(UpdateError(UpdateError::server, 404));
    EXPECT_EQ(run(updater, false), Updater::Kind::idle) << "background failures are silent";
    EXPECT_EQ(run(updater, true), Updater::Kind::failed);
    EXPECT_EQ(updater.failureMessage(), "O servidor de atualizações respondeu com o erro 404.");

    world.fetchResult = release(10);
    EXPECT_EQ(run(updater, false), Updater::Kind::idle) << "a failure is left by the next check";
    EXPECT_EQ(run(updater, true), Updater::Kind::upToDate);

    world.fetchResult = release(11);
    EXPECT_EQ(run(updater, false), Updater::Kind::available);
    EXPECT_EQ(updater.offeredVersion(), "1.1");
    EXPECT_EQ(updater.offeredNotes(), "Notas");

    const int fetches = world.fetches;
    EXPECT_EQ(run(updater, false), Updater::Kind::available);
    EXPECT_EQ(world.fetches, fetches) << "an automatic check never replaces an offer";

    UpdateManifest paused = release(11);
    paused.paused = true;
    world.fetchResult = paused;
    EXPECT_EQ(run(updater, true), Updater::Kind::upToDate) << "a manual check fetches again";
    EXPECT_EQ(world.fetches, fetches + 1);
    EXPECT_EQ(world.lastFetched, QUrl("https://updates.example/velunta/manifest.json"));
}

TEST_F(UpdaterState, ChannelRolloutAndSkippedBuildAreReadAtEachCheck)
{
    Updater updater(preferences, config(), world.engine(), {});
    UpdateManifest manifest = release(11);
    manifest.rollout = 50;
    world.fetchResult = manifest;

    EXPECT_EQ(run(updater, false), Updater::Kind::idle) << "bucket 60 is outside a rollout of 50";
    preferences.setUsesBetaUpdates(true);
    preferences.setUpdateBucket(49);
    EXPECT_EQ(run(updater, false), Updater::Kind::available);
    EXPECT_EQ(world.lastFetched, QUrl("https://updates.example/velunta/beta.json"));

    Updater second(preferences, config(), world.engine(), {});
    preferences.setSkippedUpdateBuild(11);
    EXPECT_EQ(run(second, false), Updater::Kind::idle) << "a rolled-back build is not offered again";
    EXPECT_EQ(run(second, true), Updater::Kind::available) << "unless the user asks";
}

TEST_F(UpdaterState, ChecksDuringAnotherCheckOrADownloadAreIgnored)
{
    Updater updater(preferences, config(), world.engine(), {});
    world.fetchResult = release(11);
    world.holdFetch = true;
    auto first = updater.check(true);
    ASSERT_EQ(updater.kind(), Updater::Kind::checking);
    EXPECT_EQ(run(updater, true), Updater::Kind::checking);
    EXPECT_EQ(world.fetches, 1);
    world.holdFetch = false;
    ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::available; }));

    auto installing = updater.install();
    ASSERT_TRUE(waitFor([&] { return bool(world.onProgress); }));
    EXPECT_EQ(updater.kind(), Updater::Kind::downloading);
    EXPECT_EQ(run(updater, true), Updater::Kind::downloading);
    EXPECT_EQ(run(updater, false), Updater::Kind::downloading);
    EXPECT_EQ(world.fetches, 1);

    world.prepareResult = failure<PreparedUpdate>(UpdateError(UpdateError::wrongHash));
    world.holdPrepare = false;
    ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::failed; }));
    EXPECT_EQ(updater.failureMessage(), "O arquivo baixado está corrompido ou foi alterado.");
    EXPECT_EQ(world.launches, 0);
}

TEST_F(UpdaterState, ProgressFromTheDownloadThreadCountsOnlyWhileDownloading)
{
    Updater updater(preferences, config(), world.engine(), {});
    world.fetchResult = release(11);
    run(updater, true);
    int notifications = 0;
    QObject::connect(&updater, &Updater::stateChanged, [&] { ++notifications; });

    auto installing = updater.install();
    ASSERT_TRUE(waitFor([&] { return bool(world.onProgress); }));
    EXPECT_EQ(updater.progress(), 0);
    EXPECT_EQ(notifications, 1);

    std::thread([&] { world.onProgress(0.5); }).join();
    EXPECT_EQ(updater.progress(), 0) << "applied on the GUI thread, not the caller's";
    ASSERT_TRUE(waitFor([&] { return updater.progress() == 0.5; }));
    EXPECT_EQ(notifications, 2);
    std::thread([&] { world.onProgress(0.5); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(notifications, 2) << "an equal state notifies nobody";

    world.prepareResult = failure<PreparedUpdate>(UpdateError(UpdateError::wrongSize));
    world.holdPrepare = false;
    ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::failed; }));
    std::thread([&] { world.onProgress(0.9); }).join();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(updater.kind(), Updater::Kind::failed) << "a late report does not bring the download back";
}

TEST_F(UpdaterState, InstallWaitsForTheCaptureThenHandsOverAndQuits)
{
    Updater updater(preferences, config(), world.engine(), {});
    bool busy = true;
    ASSERT_NO_FATAL_FAILURE(waitToInstall(updater, busy));
    const auto &waiting = std::get<Updater::WaitingToInstall>(updater.state());
    EXPECT_EQ(waiting.prepared.build, 11);
    EXPECT_EQ(world.launches, 0);
    EXPECT_EQ(world.terminations, 0);

    auto stillBusy = updater.install();
    QCoreApplication::processEvents();
    EXPECT_EQ(updater.kind(), Updater::Kind::waitingToInstall);
    EXPECT_EQ(world.launches, 0);

    busy = false;
    auto reopen = updater.install();
    ASSERT_TRUE(waitFor([&] { return world.terminations == 1; }));
    EXPECT_EQ(world.launches, 1);
    EXPECT_EQ(world.launchTimeout, 30);
    EXPECT_FALSE(world.launchHadArguments);
}

// An update parked while a capture ran, with the capture now over.
class ReadyToReopen : public UpdaterState {
protected:
    void SetUp() override
    {
        UpdaterState::SetUp();
        ASSERT_NO_FATAL_FAILURE(waitToInstall(updater, busy));
        busy = false;
    }

    // Lets the event loop run for a while, for anything that would still come.
    void settle()
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 200)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    bool busy = true;
    Updater updater {preferences, config(), world.engine(), {}};
};

TEST_F(ReadyToReopen, TwoClicksInOneTurnStartOneHelper)
{
    auto first = updater.install();
    auto second = updater.install();
    ASSERT_TRUE(waitFor([&] { return world.terminations >= 1; }));
    settle();
    EXPECT_EQ(world.launches, 1);
    EXPECT_EQ(world.terminations, 1);
}

TEST_F(ReadyToReopen, AClickWhileTheHelperStartsStartsNoOther)
{
    world.holdLaunch = true;
    auto first = updater.install();
    ASSERT_TRUE(waitFor([&] { return world.launches == 1; }));
    auto second = updater.install();
    settle();
    EXPECT_EQ(world.launches, 1);
    world.holdLaunch = false;
    ASSERT_TRUE(waitFor([&] { return world.terminations == 1; }));
    auto late = updater.install();
    settle();
    EXPECT_EQ(world.launches, 1) << "nothing starts a second helper once the first runs";
}

TEST_F(ReadyToReopen, ACaptureThatBeginsWhileTheHelperStartsKeepsTheAppRunning)
{
    world.holdLaunch = true;
    auto first = updater.install();
    ASSERT_TRUE(waitFor([&] { return world.launches == 1; }));
    busy = true; // a hot key pressed meanwhile
    world.holdLaunch = false;
    ASSERT_TRUE(waitFor([&] { return world.cancels == 1; }));
    settle();
    EXPECT_EQ(world.terminations, 0) << "never quit in the middle of a capture";
    EXPECT_EQ(updater.kind(), Updater::Kind::waitingToInstall);

    busy = false;
    auto again = updater.install();
    ASSERT_TRUE(waitFor([&] { return world.terminations == 1; }));
    EXPECT_EQ(world.launches, 2);
    EXPECT_EQ(world.cancels, 1);
}

TEST_F(UpdaterState, AFailedHandOverIsShownAndNothingQuits)
{
    Updater updater(preferences, config(), world.engine(), {});
    world.fetchResult = release(11);
    run(updater, true);
    world.holdPrepare = false;
    world.launchResult = failure<Done>(UpdateError(UpdateError::installerMissing));
    auto installing = updater.install();
    ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::failed; }));
    EXPECT_EQ(updater.failureMessage(), "O instalador de atualizações não foi encontrado neste app.");
    EXPECT_EQ(world.terminations, 0);
}

TEST_F(UpdaterState, ACopyThatCannotReplaceItselfOpensTheDownloadInstead)
{
    Updater updater(preferences, config(), world.engine(), {});
    world.inPlace = false;
    world.fetchResult = release(11);
    run(updater, true);
    EXPECT_FALSE(updater.canInstallInPlace());

    auto installing = updater.install();
    QCoreApplication::processEvents();
    EXPECT_EQ(updater.kind(), Updater::Kind::available);
    ASSERT_EQ(world.opened.size(), 1);
    EXPECT_EQ(world.opened.first(), QUrl(release().url));
    EXPECT_FALSE(world.onProgress);

    UpdateManifest insecure = release(11);
    insecure.url = "http://updates.example/Velunta-11.zip";
    Updater other(preferences, config(), world.engine(), {});
    world.fetchResult = insecure;
    run(other, true);
    auto refused = other.install();
    QCoreApplication::processEvents();
    EXPECT_EQ(world.opened.size(), 1) << "the browser gets only allowed addresses";
}

TEST_F(UpdaterState, TheLoopChecksAfterItsDelayAndThenEveryPeriod)
{
    world.fetchResult = release(10);
    world.clock.start();
    {
        Updater updater(preferences, config(), world.engine(), Updater::Schedule {30ms, 60ms});
        updater.start();
        updater.start();
        ASSERT_TRUE(updater.isStarted());
        EXPECT_EQ(world.fetches, 0);
        ASSERT_TRUE(waitFor([&] { return world.fetches == 1; }));
        EXPECT_EQ(updater.kind(), Updater::Kind::idle);
        ASSERT_TRUE(waitFor([&] { return world.fetches >= 4; }, 2s));
        for (qsizetype i = 1; i < world.fetchTimes.size(); ++i)
            EXPECT_GE(world.fetchTimes[i] - world.fetchTimes[i - 1], 55) << "one loop, however often start() is called";

        preferences.setChecksForUpdates(false);
        const int before = world.fetches;
        waitFor([] { return false; }, 300ms);
        EXPECT_EQ(world.fetches, before) << "checks switched off are skipped";
        preferences.setChecksForUpdates(true);
        ASSERT_TRUE(waitFor([&] { return world.fetches > before; }, 2s)) << "the loop kept running";
        world.holdFetch = true;
        ASSERT_TRUE(waitFor([&] { return updater.kind() == Updater::Kind::checking; }, 2s));
    }
    // The updater went away in the middle of a check: the check ends quietly.
    world.holdFetch = false;
    waitFor([] { return false; }, 50ms);
}
