#include "Files.h"
#include "Log.h"
#include "Processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace VeluntaUpdateHelper;

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

std::string s(const QString &text)
{
    return text.toStdString();
}

} // namespace

TEST(HelperLog, LinesCarryAUtcStamp)
{
    EXPECT_EQ(logLine(0, "versão 5 instalada"), "1970-01-01 00:00:00 +0000 versão 5 instalada\n");
    EXPECT_EQ(logLine(1765065600 + 3661, "x"), "2025-12-07 01:01:01 +0000 x\n");
}

TEST(HelperLog, FileFollowsXdgStateHome)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_STATE_HOME", "relative/is/ignored");
    EXPECT_EQ(logFilePath(), s(home.path()) + "/.local/state/Velunta/update.log");
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(logFilePath(), s(home.path()) + "/.local/state/Velunta/update.log");
    qputenv("XDG_STATE_HOME", "/var/state");
    EXPECT_EQ(logFilePath(), "/var/state/Velunta/update.log");
}

TEST(HelperFiles, StagedCopySitsHiddenBesideTheTarget)
{
    const QString staged = QString::fromStdString(stagedPathBeside("/Apps/Velunta.app"));
    EXPECT_TRUE(QRegularExpression("^/Apps/\\.Velunta-update-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                   "[0-9A-F]{12}\\.app$")
                    .match(staged)
                    .hasMatch())
        << s(staged);
    EXPECT_NE(stagedPathBeside("/Apps/Velunta.app"), stagedPathBeside("/Apps/Velunta.app"));
    EXPECT_EQ(absolutePath("/Apps/Velunta.app//"), "/Apps/Velunta.app");
    EXPECT_EQ(absolutePath("Velunta.app"), QDir::currentPath().toStdString() + "/Velunta.app");
}

TEST(HelperFiles, CopyKeepsModesLinksAndTimesAndRefusesOddFiles)
{
    QTemporaryDir dir;
    const QString from = dir.path() + "/A.app";
    write(from + "/Contents/MacOS/prog", "#!/bin/sh\n");
    write(from + "/Contents/Resources/deep/file", "data");
    ASSERT_EQ(::chmod(s(from + "/Contents/MacOS/prog").c_str(), 0751), 0);
    ASSERT_EQ(::symlink("../MacOS/prog", s(from + "/Contents/Resources/link").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent", s(from + "/Contents/dangling").c_str()), 0);
    ASSERT_EQ(::chmod(s(from + "/Contents/Resources/deep").c_str(), 0555), 0);
    const timespec when[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, s(from + "/Contents/Resources/deep").c_str(), when, 0), 0);

    const QString to = dir.path() + "/B.app";
    ASSERT_EQ(copyTree(s(from), s(to)), std::nullopt);
    struct stat info { };
    ASSERT_EQ(::stat(s(to + "/Contents/MacOS/prog").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0751u);
    ASSERT_EQ(::stat(s(to + "/Contents/Resources/deep").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0555u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(std::filesystem::read_symlink(s(to + "/Contents/Resources/link")), "../MacOS/prog");
    EXPECT_TRUE(QFileInfo(to + "/Contents/dangling").isSymLink());
    EXPECT_EQ(QFile(to + "/Contents/Resources/deep/file").size(), 4);

    // Read-only folders do not stop the removal.
    removeTree(s(to));
    EXPECT_FALSE(QFileInfo::exists(to));

    ASSERT_EQ(::mkfifo(s(from + "/Contents/pipe").c_str(), 0600), 0);
    const auto error = copyTree(s(from), s(dir.path() + "/C.app"));
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("/C.app/Contents/pipe"), std::string::npos) << *error;

    const auto missing = copyTree(s(dir.path() + "/Missing.app"), s(dir.path() + "/D.app"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/D.app"));
}

TEST(HelperFiles, ExchangeSwapsTwoFolders)
{
    QTemporaryDir dir;
    write(dir.path() + "/a/which", "a");
    write(dir.path() + "/b/which", "b");
    ASSERT_EQ(exchangePaths(s(dir.path() + "/a"), s(dir.path() + "/b")), std::nullopt);
    QFile a(dir.path() + "/a/which");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), "b");
    EXPECT_EQ(exchangePaths(s(dir.path() + "/a"), s(dir.path() + "/none")), ENOENT);
}

TEST(HelperProcesses, ExitedButUnreapedChildCountsAsEnded)
{
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_FALSE(processHasEnded(child));
    ::kill(child, SIGTERM);
    for (int i = 0; i < 100 && !processHasEnded(child); ++i)
        QThread::msleep(10);
    EXPECT_TRUE(processHasEnded(child));
    EXPECT_EQ(::kill(child, 0), 0) << "still a zombie until reaped";
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(processHasEnded(child));
}

TEST(HelperProcesses, BundleProgramComesFromInfoPlist)
{
    QTemporaryDir dir;
    const QString bundle = dir.path() + "/X.app";
    write(bundle + "/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
        "<string>Prog</string></dict></plist>");
    EXPECT_EQ(bundleExecutable(s(bundle)).path, s(bundle) + "/Contents/MacOS/Prog");

    // Launching a bundle whose program is missing reports it, naming the program.
    const auto failure = openBundle(s(bundle), {"--x"});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->program, s(bundle) + "/Contents/MacOS/Prog");
    EXPECT_EQ(failure->reason, std::strerror(ENOENT));

    write(bundle + "/Contents/Info.plist",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
        "<string>../../evil</string></dict></plist>");
    EXPECT_TRUE(bundleExecutable(s(bundle)).path.empty());
    write(bundle + "/Contents/Info.plist", "not a plist");
    EXPECT_TRUE(bundleExecutable(s(bundle)).path.empty());
    EXPECT_TRUE(openBundle(s(dir.path() + "/None.app"), {}));
}
