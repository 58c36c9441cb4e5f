#include "core/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QDateTime evening(QDate(2026, 12, 5), QTime(18, 38, 6));

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

QString nameOf(const Result<QString, QString> &result)
{
    EXPECT_TRUE(result.ok());
    return result.ok() ? QFileInfo(*result).fileName() : QString();
}

} // namespace

TEST(OutputFile, NamesUseThePortugueseTwentyFourHourPattern)
{
    QTemporaryDir dir;
    EXPECT_EQ(nameOf(OutputFile::newURL("Print", "png", dir.path(), evening)), "Print 2026-12-05 às 18.38.06.png");
    EXPECT_EQ(
        nameOf(OutputFile::newURL("Gravação", "mp4", dir.path(), evening)), "Gravação 2026-12-05 às 18.38.06.mp4");
    const QDateTime morning(QDate(2026, 1, 2), QTime(7, 4, 9));
    EXPECT_EQ(nameOf(OutputFile::newURL("Print", "png", dir.path(), morning)), "Print 2026-01-02 às 07.04.09.png");
}

TEST(OutputFile, SecondCaptureInTheSameSecondGetsSuffixTwoThenThree)
{
    QTemporaryDir dir;
    auto first = OutputFile::newURL("Print", "png", dir.path(), evening);
    touch(*first);
    auto second = OutputFile::newURL("Print", "png", dir.path(), evening);
    EXPECT_EQ(nameOf(second), "Print 2026-12-05 às 18.38.06 (2).png");
    touch(*second);
    EXPECT_EQ(nameOf(OutputFile::newURL("Print", "png", dir.path(), evening)), "Print 2026-12-05 às 18.38.06 (3).png");
    // A recording in the same second does not collide with screenshots.
    EXPECT_EQ(
        nameOf(OutputFile::newURL("Gravação", "mp4", dir.path(), evening)), "Gravação 2026-12-05 às 18.38.06.mp4");
}

TEST(OutputFile, AFolderOrADanglingLinkInTheWayMovesTheNameOn)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("Print 2026-12-05 às 18.38.06.png");
    EXPECT_EQ(nameOf(OutputFile::newURL("Print", "png", dir.path(), evening)), "Print 2026-12-05 às 18.38.06 (2).png");
    QFile::link("/nonexistent/target", dir.filePath("Print 2026-12-05 às 18.38.06 (2).png"));
    EXPECT_EQ(nameOf(OutputFile::newURL("Print", "png", dir.path(), evening)), "Print 2026-12-05 às 18.38.06 (3).png");
}

TEST(OutputFile, CreatesMissingFoldersWithTheirParents)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("a/b/Velunta");
    auto result = OutputFile::newURL("Print", "png", folder, evening);
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(QFileInfo(*result).absolutePath(), folder);
    EXPECT_FALSE(QFileInfo::exists(*result)) << "the name is not reserved";
}

TEST(OutputFile, AFolderThatCannotBeCreatedIsAnErrorWithTheSystemText)
{
    QTemporaryDir dir;
    touch(dir.filePath("plain-file"));
    auto result = OutputFile::newURL("Print", "png", dir.filePath("plain-file/Velunta"), evening);
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(result.error().isEmpty());
    EXPECT_TRUE(result.error().contains("directory", Qt::CaseInsensitive)) << result.error().toStdString();

    auto onFile = OutputFile::newURL("Print", "png", dir.filePath("plain-file"), evening);
    ASSERT_FALSE(onFile.ok());
}

TEST(OutputFile, TheUsersLocaleAndClockPreferenceChangeNothing)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("LC_TIME", "en_US.UTF-8");
    EXPECT_EQ(OutputFile::timestamp(QDateTime(QDate(2026, 3, 4), QTime(23, 5, 0))), "2026-03-04 às 23.05.00");
    EXPECT_EQ(OutputFile::timestamp(QDateTime(QDate(2026, 3, 4), QTime(0, 5, 0))), "2026-03-04 às 00.05.00");
    QLocale::setDefault(QLocale::c());
}
