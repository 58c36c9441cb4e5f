#pragma once

#include "core/Preferences.h"
#include "updater/Updater.h"

#include <QCoroTask>
#include <QCoroTimer>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

// An Updater over a fake engine, driven into each state through its own
// operations: check, install, progress, launch.
struct FakeUpdater {
    Result<UpdateManifest, UpdateError> fetchResult = UpdateManifest {};
    bool holdFetch = false;
    bool holdPrepare = true;
    std::atomic<bool> holdLaunch = false;
    bool inPlace = true;
    bool busy = false;
    int fetches = 0;
    int installs = 0;
    QList<QUrl> opened;
    UpdateEngine::ProgressCallback onProgress;
    std::unique_ptr<Updater> updater;

    static UpdateManifest sample(QString notes = QStringLiteral("Gravações pausadas mais confiáveis e novo visual."))
    {
        UpdateManifest manifest;
        manifest.build = 5;
        manifest.version = QStringLiteral("1.3");
        manifest.minimumSystem = QStringLiteral("1.0");
        manifest.notes = std::move(notes);
        manifest.url = QStringLiteral("https://updates.example/velunta/Velunta-1.3.zip");
        return manifest;
    }

    // The updater reads PREFERENCES (whether to check, the channel), which
    // outlive it.
    explicit FakeUpdater(Preferences &preferences, bool configured = true)
    {
        Updater::Engine engine;
        engine.fetchManifest = [this](QUrl, UpdateConfig) -> QCoro::Task<Result<UpdateManifest, UpdateError>> {
            ++fetches;
            while (holdFetch)
                co_await QCoro::sleepFor(std::chrono::milliseconds(2));
            co_return fetchResult;
        };
        engine.prepare
            = [this](UpdateManifest, UpdateConfig,
                  UpdateEngine::ProgressCallback progress) -> QCoro::Task<Result<PreparedUpdate, UpdateError>> {
            ++installs;
            onProgress = std::move(progress);
            while (holdPrepare)
                co_await QCoro::sleepFor(std::chrono::milliseconds(2));
            co_return PreparedUpdate {};
        };
        engine.launchInstaller = [this](const PreparedUpdate &, int, const QStringList &) {
            while (holdLaunch)
                QThread::msleep(2);
            return Result<Done, UpdateError>(Done {});
        };
        engine.canInstallInPlace = [this] { return inPlace; };
        engine.currentBuild = [] { return qint64(4); };
        engine.systemVersion = [] { return UpdateEngine::SystemVersion {2, 36, 0}; };
        engine.openURL = [this](const QUrl &url) { opened.append(url); };
        engine.terminate = [] {};
        std::optional<UpdateConfig> config;
        if (configured)
            config = UpdateConfig {QUrl("https://updates.example/velunta/"), "key", false};
        updater = std::make_unique<Updater>(preferences, config, std::move(engine), Updater::Schedule {});
        updater->setCaptureBusyCheck([this] { return busy; });
    }

    ~FakeUpdater()
    {
        // Let held coroutines finish before the updater goes.
        holdFetch = false;
        holdPrepare = false;
        holdLaunch = false;
        QTest::qWait(20);
    }

    Updater::Kind kind() const { return updater->kind(); }

    bool waitFor(Updater::Kind kind)
    {
        return QTest::qWaitFor([&] { return updater->kind() == kind; }, 3000);
    }

    void toAvailable(UpdateManifest manifest = sample())
    {
        fetchResult = std::move(manifest);
        updater->checkNow();
        EXPECT_TRUE(waitFor(Updater::Kind::available));
    }
    void toDownloading(double fraction)
    {
        toAvailable();
        holdPrepare = true;
        updater->installNow();
        EXPECT_TRUE(waitFor(Updater::Kind::downloading));
        EXPECT_TRUE(QTest::qWaitFor([&] { return bool(onProgress); }, 3000));
        if (fraction > 0) {
            onProgress(fraction);
            EXPECT_TRUE(QTest::qWaitFor([&] { return updater->progress() == fraction; }, 3000));
        }
    }
    // The launch is held on the pool, so the verifying state stays up.
    void toVerifying()
    {
        toDownloading(0);
        holdLaunch = true;
        holdPrepare = false;
        EXPECT_TRUE(waitFor(Updater::Kind::verifying));
    }
    void toWaitingToInstall()
    {
        busy = true;
        toDownloading(0);
        holdPrepare = false;
        EXPECT_TRUE(waitFor(Updater::Kind::waitingToInstall));
    }
    void toFailed(UpdateError error)
    {
        fetchResult = Result<UpdateManifest, UpdateError>::failure(std::move(error));
        updater->checkNow();
        EXPECT_TRUE(waitFor(Updater::Kind::failed));
    }
    void toChecking()
    {
        holdFetch = true;
        updater->checkNow();
        EXPECT_TRUE(waitFor(Updater::Kind::checking));
    }
    void toUpToDate()
    {
        UpdateManifest old = sample();
        old.build = 4;
        fetchResult = old;
        updater->checkNow();
        EXPECT_TRUE(waitFor(Updater::Kind::upToDate));
    }
};
