// The merge test run end to end, as `--merge-test` runs it.
#include "diagnostics/SelfTest.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(MergeTest, JoinsTwoSyntheticSegmentsIntoFourSecondsWithoutBlackFrames)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("relatorio/merge");
    QCoro::waitFor(SelfTest::runMerge(folder));

    const QByteArray report = TestSupport::readFile(folder + "/merge.txt");
    EXPECT_EQ(report.toStdString(), "OK uniao: 4.00s video=1 audio=1 quadros_ruins=0/38\nFIM\n");
    for (const char *name : {"sintetico-1.mp4", "sintetico-2.mp4", "sintetico-unido.mp4"})
        EXPECT_TRUE(QFile::exists(folder + "/" + name)) << name;
}

TEST(MergeTest, WritesNoReportWhenTheFolderCannotBeCreated)
{
    QTemporaryDir dir;
    // A folder path that runs through a regular file cannot be created.
    TestSupport::writeFile(dir.filePath("arquivo"), "x");
    const QString folder = dir.filePath("arquivo/merge");
    QCoro::waitFor(SelfTest::runMerge(folder));
    EXPECT_FALSE(QFile::exists(folder + "/merge.txt"));
}

TEST(MergeTest, BlackFrameRuleLooksForAnyPixelBrighterThanFourteen)
{
    QImage black(64, 36, QImage::Format_RGBA8888);
    black.fill(QColor(4, 5, 5));
    EXPECT_TRUE(SelfTest::isBlackFrame(black));
    QImage grey(64, 36, QImage::Format_RGBA8888);
    grey.fill(QColor(128, 128, 128));
    EXPECT_FALSE(SelfTest::isBlackFrame(grey));
}
