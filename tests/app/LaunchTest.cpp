// Drives the real Velunta program with argument lists, as a user or the
// update helper would.
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

// A run without any display: only the modes that need no screen work.
QProcessEnvironment headless(const TempHome &home)
{
    QProcessEnvironment env = home.environment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

QByteArray runningLine(int skipped)
{
    return QStringLiteral("RODANDO build=%1 ignorada=%2\n")
        .arg(qEnvironmentVariable("VELUNTA_EXPECTED_BUILD", "1"))
        .arg(skipped)
        .toUtf8();
}

} // namespace

TEST(Launch, UpdateReportWritesTheRunningLineAndEndsNormally)
{
    TempHome home;
    const QString report = home.path() + "/report.txt";
    auto r = run(appPath(), {"--update-report", report}, headless(home));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(readFile(report), runningLine(0));
}

TEST(Launch, RelativeReportPathsAreTakenAgainstTheWorkingDirectory)
{
    TempHome home;
    auto r = run(appPath(), {"--update-report", "sub/../r.txt"}, headless(home), 30000, home.path());
    EXPECT_EQ(r.exitCode, 0);
    QDir().mkpath(home.path() + "/sub");
    r = run(appPath(), {"--update-report", "sub/../r.txt"}, headless(home), 30000, home.path());
    EXPECT_EQ(readFile(home.path() + "/r.txt"), runningLine(0));
}

TEST(Launch, ConfirmationMarkerIsCreatedEmptyBeforeAnythingElse)
{
    TempHome home;
    const QString marker = home.path() + "/marker";
    writeFile(marker, "old contents");
    // Even a launch that cannot start (no display for the normal run) confirms.
    auto r = run(appPath(), {"--update-confirm", marker}, headless(home));
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("DISPLAY")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(marker));
    EXPECT_EQ(QFileInfo(marker).size(), 0);

    // As the last argument it creates nothing.
    const QString report = home.path() + "/r.txt";
    r = run(appPath(), {"--update-report", report, "--update-confirm"}, headless(home));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(QDir(home.path()).entryList({"--update-confirm*"}).size(), 0);

    // A marker in a missing folder is ignored.
    r = run(appPath(), {"--update-confirm", home.path() + "/gone/marker", "--update-report", report}, headless(home));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readFile(report), runningLine(0));
}

TEST(Launch, RolledBackBuildIsStoredOnlyWhenItIsAnInteger)
{
    TempHome home;
    const QString report = home.path() + "/r.txt";
    auto launch = [&](QStringList extra) {
        auto r = run(appPath(), QStringList {"--update-report", report} + extra, headless(home));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return readFile(report);
    };
    EXPECT_EQ(launch({"--update-rolled-back", "57"}), runningLine(57));
    EXPECT_EQ(launch({"--update-rolled-back", "abc"}), runningLine(57));
    EXPECT_EQ(launch({"--update-rolled-back"}), runningLine(57));
    EXPECT_EQ(launch({"--update-rolled-back", "+60"}), runningLine(60));
    EXPECT_EQ(launch({"--update-rolled-back", "61", "--update-rolled-back", "99"}), runningLine(61));
    EXPECT_EQ(launch({"--update-rolled-back", " 62"}), runningLine(61));
}

TEST(Launch, TheFixedModeOrderDecidesNotTheCommandLine)
{
    TempHome home;
    const QString report = home.path() + "/r.txt";
    // The update report comes first in the fixed order, wherever it stands.
    auto r = run(appPath(),
        {"--merge-test", home.path() + "/m", "--self-test", home.path() + "/s", "--update-report", report, "--install",
            "--auto"},
        headless(home));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readFile(report), runningLine(0));
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/m/merge.txt"));

    // "--update-test" with one value is ignored and the next rule applies.
    QFile::remove(report);
    r = run(appPath(), {"--update-report", report, "--update-test", "http://127.0.0.1:1/m.json"}, headless(home));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readFile(report), runningLine(0));
}

TEST(Launch, TheNormalRunNeedsADisplayAndSaysSo)
{
    TempHome home;
    auto r = run(appPath(), {}, headless(home));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.crashed);
    EXPECT_TRUE(r.err.contains("DISPLAY")) << r.err.toStdString();

    QProcessEnvironment env = headless(home);
    env.insert("DISPLAY", ":98765");
    r = run(appPath(), {}, env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.crashed);
    EXPECT_TRUE(r.err.contains(":98765")) << r.err.toStdString();
}

TEST(Launch, ASecondNormalLaunchHandsOverToTheRunningOneAndExits)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs the test desktop";
    TempHome home;
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(appPath(), {});
    ASSERT_TRUE(first.waitForStarted());
    // Wait for its socket to appear.
    for (int i = 0; i < 100 && QDir(home.runtimeDir()).entryList({"Velunta-*"}, QDir::System).isEmpty(); ++i)
        QThread::msleep(50);
    ASSERT_FALSE(QDir(home.runtimeDir()).entryList({"Velunta-*"}, QDir::System).isEmpty());

    auto second = run(appPath(), {}, home.environment(), 10000);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_FALSE(second.timedOut);
    EXPECT_EQ(first.state(), QProcess::Running) << "closing windows or a reopen never quits the running one";

    first.terminate();
    EXPECT_TRUE(first.waitForFinished(10000));
}

TEST(Launch, AStaleSocketFromACrashDoesNotBlockTheNextRun)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs the test desktop";
    TempHome home;
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(appPath(), {});
    ASSERT_TRUE(first.waitForStarted());
    QThread::msleep(1500);
    first.kill();
    first.waitForFinished();

    QProcess next;
    next.setProcessEnvironment(home.environment());
    next.start(appPath(), {});
    ASSERT_TRUE(next.waitForStarted());
    EXPECT_FALSE(next.waitForFinished(2000)) << "the new run keeps running";
    next.terminate();
    next.waitForFinished(10000);
}

TEST(Launch, TheMergeTestRunsWithoutADisplayAndWritesItsReport)
{
    TempHome home;
    const QString folder = home.path() + "/merge";
    auto r = run(appPath(), {"--merge-test", folder, "--ui-snapshots", home.path() + "/ui"}, headless(home), 120000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray report = readFile(folder + "/merge.txt");
    EXPECT_TRUE(report.startsWith("OK uniao: 4.00s video=1 audio=1 quadros_ruins=0/")) << report.toStdString();
    EXPECT_TRUE(report.endsWith("FIM\n")) << report.toStdString();
    for (const char *name : {"sintetico-1.mp4", "sintetico-2.mp4", "sintetico-unido.mp4"})
        EXPECT_TRUE(QFileInfo::exists(folder + "/" + name)) << name;
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/ui"));
}
