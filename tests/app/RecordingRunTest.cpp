// The real program records on the test desktop: Alt+Shift+3 and Alt+Shift+4
// start and stop, the bar is up meanwhile, and the MP4 that lands in the save
// folder has the screen's or the dragged area's size and the system sound.
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QSize>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class RecordingRun : public StartedTrayRunFixture { };

} // namespace

TEST_F(RecordingRun, AltShift3RecordsTheWholeScreenUntilPressedAgain)
{
    tool("xdotool", {"key", "alt+shift+3"});
    ASSERT_TRUE(waitFor([&] { return barIsUp(); })) << "no control bar";
    // Something moves on screen meanwhile.
    for (int i = 0; i < 10; ++i) {
        tool("xdotool", {"mousemove", QString::number(200 + 40 * i), "300"});
        QThread::msleep(200);
    }
    tool("xdotool", {"key", "alt+shift+3"});
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000))
        << "no recording in " << saveFolder.toStdString();
    EXPECT_TRUE(waitFor([&] { return !app.windowsNamed("^Velunta: Grava").isEmpty(); })) << "the toast is up";
    EXPECT_FALSE(barIsUp());

    const RecordingProbe file = probeRecording(saveFolder + "/" + recordings().first());
    EXPECT_EQ(file.videoSize, QSize(1920, 1080));
    EXPECT_GT(file.duration, 1.5);
    EXPECT_LT(file.duration, 6.0);
    EXPECT_EQ(file.audioStreams, 1) << "system sound on, microphone off";
    // Nothing but the finished file is left behind.
    EXPECT_EQ(QDir(saveFolder).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(RecordingRun, AltShift4RecordsTheDraggedAreaAndAPressStopsIt)
{
    tool("xdotool", {"key", "alt+shift+4"});
    ASSERT_TRUE(waitFor([&] {
        return !tool("xdotool", {"search", "--onlyvisible", "--name", "^Velunta: sele"}).isEmpty();
    }));
    QThread::msleep(400);
    tool("xdotool", {"mousemove", "300", "200", "mousedown", "1"});
    tool("xdotool", {"mousemove", "500", "400", "mousemove", "940", "680", "mouseup", "1"});
    ASSERT_TRUE(waitFor([&] { return barIsUp(); })) << "no control bar";
    EXPECT_FALSE(app.windowsNamed("^Velunta: recording frame").isEmpty()) << "the ring marks the area";
    QThread::msleep(2000);
    tool("xdotool", {"key", "alt+shift+4"});
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000));
    const RecordingProbe file = probeRecording(saveFolder + "/" + recordings().first());
    EXPECT_EQ(file.videoSize, QSize(640, 480));
    EXPECT_GT(file.duration, 1.0);
}

TEST_F(RecordingRun, TheSessionEndingWhileRecordingLeavesOnlyTheSegmentsForTheNextStart)
{
    tool("xdotool", {"key", "alt+shift+3"});
    ASSERT_TRUE(waitFor([&] { return barIsUp(); }));
    QThread::msleep(1500);
    // The session ending: SIGTERM quits the run in order, and the recording
    // waits in the cache for the next start (RecoveryRunTest recovers it).
    app.process().terminate();
    ASSERT_TRUE(app.process().waitForFinished(20000));
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
    EXPECT_TRUE(QDir(saveFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_TRUE(QDir(home.tempDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty())
        << "nothing in the temporary folder";
    const QDir cache(home.cacheHome() + "/Velunta");
    const QStringList folders = cache.entryList({"*Velunta-*"}, QDir::Dirs | QDir::Hidden);
    ASSERT_EQ(folders.size(), 1);
    EXPECT_EQ(QDir(cache.filePath(folders.first())).entryList(QDir::Files), QStringList({"dono.lock", "trecho-0.mp4"}));
}
