// The real update helper against real bundles whose programs are small shell
// scripts that record how they were started.
#include "HelperFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using NewVersion = HelperFixture::NewVersion;

namespace {

const QStringList relaunch {"--update-report", "/tmp/report with space.txt", "--frobnicate"};

QStringList plus(QStringList head, const QStringList &tail)
{
    return head + tail;
}

bool logHas(const HelperFixture &fixture, const QString &message)
{
    for (const QString &line : fixture.logLines())
        if (line.endsWith(" " + message))
            return true;
    return false;
}

// Keeps looking at the target while the helper works: the installed
// application must always be a whole bundle under its own name.
class TargetWatch {
public:
    explicit TargetWatch(const QString &target)
        : m_plist((target + "/Contents/Info.plist").toStdString())
        , m_thread([this] {
            while (!m_stop) {
                struct stat info { };
                if (::stat(m_plist.c_str(), &info) != 0)
                    ++m_misses;
                ++m_looks;
            }
        })
    {
    }
    ~TargetWatch() { stop(); }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    long looks() const { return m_looks; }
    long misses() const { return m_misses; }

private:
    std::string m_plist;
    std::atomic<bool> m_stop {false};
    std::atomic<long> m_looks {0};
    std::atomic<long> m_misses {0};
    std::thread m_thread;
};

} // namespace

TEST(UpdateHelper, ConfirmedVersionIsInstalledAfterTheAppHasQuit)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Confirms);
    // Extra content whose modes, links and times the copy has to keep.
    const QString resources = fixture.newBundle() + "/Contents/Resources";
    QDir().mkpath(resources + "/sub");
    {
        QFile data(resources + "/data.txt");
        ASSERT_TRUE(data.open(QIODevice::WriteOnly));
        data.write("payload");
    }
    ASSERT_EQ(::chmod((resources + "/data.txt").toUtf8(), 0640), 0);
    const timespec old[2] = {{978307200, 0}, {978307200, 0}}; // 2001-01-01
    ASSERT_EQ(::utimensat(AT_FDCWD, (resources + "/data.txt").toUtf8(), old, 0), 0);
    ASSERT_EQ(::symlink("data.txt", (resources + "/link").toUtf8()), 0);
    ASSERT_EQ(::symlink("sub", (resources + "/sublink").toUtf8()), 0);

    const pid_t app = fixture.startOldApp(0.7);
    const auto run = fixture.runHelper(fixture.arguments(app, 10, relaunch));
    HelperFixture::reap(app);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 2);
    EXPECT_TRUE(fixture.stagedCopies().isEmpty()) << fixture.stagedCopies().join(", ").toStdString();
    EXPECT_FALSE(QFileInfo::exists(fixture.work()));
    EXPECT_TRUE(logHas(fixture, "versão 2 instalada"));
    const auto args = fixture.launchedArguments("new");
    ASSERT_TRUE(args);
    EXPECT_EQ(*args, plus({"--update-confirm", fixture.work() + "/confirmado"}, relaunch));
    EXPECT_TRUE(QFileInfo::exists(fixture.out() + "/saw-old-exit")) << "swapped before the app had quit";
    EXPECT_FALSE(fixture.launchedArguments("old", 0));

    const QString installed = fixture.target() + "/Contents/Resources";
    struct stat info { };
    ASSERT_EQ(::stat((installed + "/data.txt").toUtf8(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 978307200);
    ASSERT_EQ(::lstat((fixture.target() + "/Contents/MacOS/Velunta").toUtf8(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(QFileInfo(installed + "/link").symLinkTarget(), installed + "/data.txt");
    EXPECT_TRUE(QFileInfo(installed + "/sublink").isSymLink());

    for (const QString &line : fixture.logLines())
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\S").match(line).hasMatch())
            << line.toStdString();
}

TEST(UpdateHelper, AppThatExitedButWasNotReapedCountsAsGone)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Confirms);
    const pid_t zombie = fork();
    if (zombie == 0)
        _exit(0);
    ASSERT_GT(zombie, 0);
    QThread::msleep(100);
    ASSERT_EQ(::kill(zombie, 0), 0) << "the child should still answer the probe";

    const auto run = fixture.runHelper(fixture.arguments(zombie, 10, relaunch));
    HelperFixture::reap(zombie);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.took, std::chrono::seconds(20));
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 2);
}

TEST(UpdateHelper, UnconfirmedVersionIsKilledAndTheOldOneComesBack)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Hangs);
    TargetWatch watch(fixture.target());
    const auto run = fixture.runHelper(fixture.arguments(999999999, 1, relaunch));
    watch.stop();

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_GT(watch.looks(), 1000);
    EXPECT_EQ(watch.misses(), 0) << "the target path was missing";
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    EXPECT_TRUE(fixture.stagedCopies().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(fixture.work()));
    EXPECT_TRUE(logHas(fixture, "a versão 2 não iniciou; voltando para a anterior"));

    const auto started = fixture.launchedArguments("new");
    ASSERT_TRUE(started) << "the new version was never started";
    EXPECT_EQ(*started, plus({"--update-confirm", fixture.work() + "/confirmado"}, relaunch));
    const pid_t newPid = fixture.newVersionPid();
    ASSERT_GT(newPid, 0);
    EXPECT_TRUE(HelperFixture::processHasEnded(newPid)) << "the unconfirmed version is still running";

    const auto old = fixture.launchedArguments("old");
    ASSERT_TRUE(old) << "the old version was not started again";
    EXPECT_EQ(*old, plus({"--update-rolled-back", "2"}, relaunch));
}

TEST(UpdateHelper, ZeroTimeoutRollsBackWithoutLookingForTheMarker)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Confirms);
    const auto run = fixture.runHelper(fixture.arguments(999999999, 0, relaunch));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    EXPECT_TRUE(logHas(fixture, "a versão 2 não iniciou; voltando para a anterior"));
    const auto old = fixture.launchedArguments("old");
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, plus({"--update-rolled-back", "2"}, relaunch));
}

TEST(UpdateHelper, FailedExchangeKeepsTheOldVersionAndStartsItPlain)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Confirms);
    const auto run = fixture.runHelper(fixture.arguments(999999999, 5, relaunch), 1);

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(logHas(fixture, QString("falha ao trocar as versões: ") + std::strerror(EXDEV)));
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    EXPECT_TRUE(fixture.stagedCopies().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(fixture.work()));
    const auto old = fixture.launchedArguments("old");
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, relaunch);
    EXPECT_FALSE(fixture.launchedArguments("new", 0));
}

TEST(UpdateHelper, FailedExchangeBackLeavesTheOldVersionUnderTheStagedName)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Hangs);
    TargetWatch watch(fixture.target());
    const auto run = fixture.runHelper(fixture.arguments(999999999, 1, relaunch), 2);
    watch.stop();

    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(watch.misses(), 0);
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 2);
    const QStringList staged = fixture.stagedCopies();
    ASSERT_EQ(staged.size(), 1);
    EXPECT_TRUE(
        QRegularExpression("^\\.Velunta-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"
                           "\\.app$")
            .match(staged.first())
            .hasMatch())
        << staged.first().toStdString();
    const QString stagedPath = fixture.applications() + "/" + staged.first();
    EXPECT_EQ(HelperFixture::buildOf(stagedPath), 1);
    EXPECT_TRUE(QFileInfo::exists(fixture.work() + "/VeluntaUpdateHelper")) << "the work folder must stay";
    const QStringList lines = fixture.logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(" a versão 2 não iniciou; voltando para a anterior"));
    EXPECT_TRUE(lines[1].endsWith(
        QString(" falha ao restaurar a versão anterior: ") + std::strerror(EXDEV) + "; ela está em " + stagedPath))
        << lines[1].toStdString();
    QThread::msleep(1000);
    EXPECT_FALSE(fixture.launchedArguments("old", 0)) << "nothing may be started after a failed restore";
}

TEST(UpdateHelper, FailedCopyStartsTheOldVersionWithTheRelaunchArgumentsOnly)
{
    HelperFixture fixture;
    QStringList args = fixture.arguments(999999999, 5, relaunch);
    args[args.indexOf("--new") + 1] = fixture.work() + "/app/Missing.app";
    const auto run = fixture.runHelper(args);

    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = fixture.logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(" falha ao copiar a versão nova: ")) << lines[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(fixture.work()));
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    const auto old = fixture.launchedArguments("old");
    ASSERT_TRUE(old);
    EXPECT_EQ(*old, relaunch);
}

TEST(UpdateHelper, RootOrHomeGivenAsWorkFolderIsNeverDeleted)
{
    HelperFixture fixture;
    const QString keep = fixture.home() + "/precious.txt";
    QFile file(keep);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const QString &work : {fixture.home(), fixture.home() + "/sub/.."}) {
        QStringList args = fixture.arguments(999999999, 5, relaunch);
        args[args.indexOf("--new") + 1] = fixture.root() + "/Missing.app";
        args[args.indexOf("--work") + 1] = work;
        EXPECT_EQ(fixture.runHelper(args).exitCode, 1);
        EXPECT_TRUE(QFileInfo::exists(keep)) << work.toStdString();
    }
}

TEST(UpdateHelper, InvalidCommandLinesTouchNothing)
{
    HelperFixture fixture;
    fixture.makeNewVersion(NewVersion::Confirms);
    const QString w = fixture.work(), n = fixture.newBundle(), t = fixture.target();
    const QList<QStringList> lines {
        {},
        {"--pid", "abc", "--new", n, "--target", t, "--work", w},
        {"--pid", "1", "--new", n, "--target", t, "--work", w, "--timeout", "-1"},
        {"--pid", "1", "--new", n, "--target", t, "--work", w, "--frobnicate", "x", "--"},
        {"--pid", "1", "--target", t, "--work", w, "--new"},
        {"--pid", "1", "--new", n, "--target", t, "--", "--work", w},
    };
    for (const QStringList &line : lines) {
        const auto run = fixture.runHelper(line);
        EXPECT_EQ(run.exitCode, 2) << line.join(' ').toStdString();
    }
    EXPECT_EQ(fixture.logLines().size(), lines.size());
    for (const QString &line : fixture.logLines())
        EXPECT_TRUE(line.endsWith(" argumentos inválidos")) << line.toStdString();
    EXPECT_TRUE(QFileInfo::exists(fixture.work() + "/VeluntaUpdateHelper"));
    EXPECT_EQ(HelperFixture::buildOf(fixture.newBundle()), 2);
    EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
    EXPECT_TRUE(fixture.stagedCopies().isEmpty());
    EXPECT_FALSE(fixture.launchedArguments("old", 0));
    EXPECT_FALSE(fixture.launchedArguments("new", 0));
}

TEST(UpdateHelper, UnconfirmedVersionIsStoppedWithoutAnyOutsideProgram)
{
    // As on a system without procps: no pkill to run. A version that ignores
    // the polite request is stopped all the same.
    for (const NewVersion behaviour : {NewVersion::Hangs, NewVersion::HangsIgnoringTerm}) {
        HelperFixture fixture;
        fixture.makeNewVersion(behaviour);
        const QStringList hidePkill {
            "LD_PRELOAD=" + qEnvironmentVariable("VELUNTA_FAIL_EXCHANGE_SHIM"), "VELUNTA_HIDE_PROGRAM=/usr/bin/pkill"};
        const auto run = fixture.runHelper(fixture.arguments(999999999, 1, relaunch), 0, 120, hidePkill);

        EXPECT_EQ(run.exitCode, 1);
        ASSERT_TRUE(fixture.launchedArguments("new"));
        const pid_t newPid = fixture.newVersionPid();
        ASSERT_GT(newPid, 0);
        EXPECT_TRUE(HelperFixture::processHasEnded(newPid)) << "the unconfirmed version is still running";
        EXPECT_EQ(HelperFixture::buildOf(fixture.target()), 1);
        for (const QString &line : fixture.logLines())
            EXPECT_FALSE(line.contains("falha ao executar")) << line.toStdString();
        const auto old = fixture.launchedArguments("old");
        ASSERT_TRUE(old);
        EXPECT_EQ(*old, plus({"--update-rolled-back", "2"}, relaunch));
    }
}
