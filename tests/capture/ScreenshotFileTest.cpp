// Saving a screenshot: fresh names, no file overwritten, no half file left.
#include "capture/ScreenshotFile.h"
#include "core/OutputFile.h"
#include "support/AwaitTask.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(4000, 'x');

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Names numbered in FOLDER; the first CLAIMED of them are taken by "another
// program" between being handed out and being written.
struct ClaimedNames {
    QString folder;
    int claimed = 0;
    int asked = 0;

    Result<QString, QString> operator()()
    {
        const QString path = folder + QStringLiteral("/shot %1.png").arg(++asked);
        if (asked <= claimed)
            put(path, "theirs");
        return path;
    }
};

} // namespace

TEST(ScreenshotFile, SavesEachShotAsANewPrintFileInAFolderItCreates)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("Imagens/Velunta");
    const auto first = awaitTask(ScreenshotFile::save(png, folder));
    const auto second = awaitTask(ScreenshotFile::save(png + "2", folder));
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_NE(*first, *second);
    const QStringList files = filesIn(folder);
    ASSERT_EQ(files.size(), 2);
    for (const QString &name : files)
        EXPECT_TRUE(name.startsWith("Print ") && name.endsWith(".png")) << name.toStdString();
    EXPECT_EQ(contents(*first), png);
    EXPECT_EQ(contents(*second), png + "2");
}

TEST(ScreenshotFile, ANameClaimedMeanwhileIsReplacedAndTheOtherFileKept)
{
    QTemporaryDir dir;
    ClaimedNames names {dir.path(), 2};
    const auto written = ScreenshotFile::write(png, std::ref(names));
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    EXPECT_EQ(*written, dir.filePath("shot 3.png"));
    EXPECT_EQ(contents(*written), png);
    EXPECT_EQ(contents(dir.filePath("shot 1.png")), "theirs");
    EXPECT_EQ(contents(dir.filePath("shot 2.png")), "theirs");
}

TEST(ScreenshotFile, GivesUpAfterThreeClaimedNamesWithTheSystemText)
{
    QTemporaryDir dir;
    ClaimedNames names {dir.path(), 100};
    const auto written = ScreenshotFile::write(png, std::ref(names));
    ASSERT_FALSE(written.ok());
    EXPECT_FALSE(written.error().isEmpty());
    EXPECT_EQ(names.asked, ScreenshotFile::attempts);
    for (int i = 1; i <= ScreenshotFile::attempts; ++i)
        EXPECT_EQ(contents(dir.filePath(QStringLiteral("shot %1.png").arg(i))), "theirs");
}

TEST(ScreenshotFile, FailuresThatAreNotAClaimedNameAreNotRetried)
{
    // Root ignores permission bits: a path through a regular file fails for
    // everyone (ENOTDIR).
    QTemporaryDir dir;
    put(dir.filePath("arquivo"), "plain file");
    int asked = 0;
    const auto written = ScreenshotFile::write(png, [&]() -> Result<QString, QString> {
        ++asked;
        return dir.filePath("arquivo/shot.png");
    });
    ASSERT_FALSE(written.ok());
    EXPECT_FALSE(written.error().isEmpty());
    EXPECT_EQ(asked, 1);

    // No name at all: the name's own error, asked once.
    asked = 0;
    const auto unnamed = ScreenshotFile::write(png, [&]() -> Result<QString, QString> {
        ++asked;
        return Result<QString, QString>::failure("sem nome");
    });
    ASSERT_FALSE(unnamed.ok());
    EXPECT_EQ(unnamed.error(), "sem nome");
    EXPECT_EQ(asked, 1);
}

TEST(ScreenshotFile, AFolderThatCannotBeCreatedGivesItsErrorAndNoFile)
{
    QTemporaryDir dir;
    put(dir.filePath("arquivo"), "plain file");
    const QString folder = dir.filePath("arquivo/Velunta");
    const auto saved = awaitTask(ScreenshotFile::save(png, folder));
    ASSERT_FALSE(saved.ok());
    const auto expected = OutputFile::newURL("Print", "png", folder);
    ASSERT_FALSE(expected.ok());
    EXPECT_EQ(saved.error(), expected.error());
    EXPECT_EQ(filesIn(dir.path()), QStringList {"arquivo"});
}

TEST(ScreenshotFile, AWriteCutShortLeavesNoHalfFileBehind)
{
    // A file size limit makes the write fail part way, as a full disk would.
    QTemporaryDir dir;
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = before;
    limited.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto written = ScreenshotFile::write(png, [&] { return Result<QString, QString>(dir.filePath("shot.png")); });
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousSignal);

    ASSERT_FALSE(written.ok());
    EXPECT_FALSE(written.error().isEmpty());
    EXPECT_TRUE(filesIn(dir.path()).isEmpty());
}
