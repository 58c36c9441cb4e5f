// The real program records when the sound is missing or goes away: with no
// sound server to reach the recording starts and is saved with its picture
// only; when the sound server dies halfway, the picture goes on to the stop
// and the sound recorded until then is kept. Either way a warning says so.
#include "AudioChecks.h"
#include "PrivateSoundServer.h"
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSize>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class RecordingWithoutSound : public TrayRunFixture {
protected:
    void SetUp() override
    {
        TrayRunFixture::SetUp();
        if (setUpEnded())
            return;
        m_hadServer = qEnvironmentVariableIsSet("PULSE_SERVER");
        m_server = qgetenv("PULSE_SERVER");
    }

    void TearDown() override
    {
        TrayRunFixture::TearDown();
        if (m_hadServer)
            qputenv("PULSE_SERVER", m_server);
        else
            qunsetenv("PULSE_SERVER");
    }

    // The program reaches its sound server at ADDRESS.
    void startApp(const QString &soundServer)
    {
        qputenv("PULSE_SERVER", soundServer.toUtf8());
        ASSERT_TRUE(app.start());
    }

    // Windows titled just "Velunta": the main window and any alert.
    int plainlyNamedWindows() const { return int(app.windowsNamed("^Velunta$").size()); }

    // Moves the pointer for about MS milliseconds, so that the picture changes.
    static void wiggle(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; clock.elapsed() < ms; ++i) {
            tool("xdotool", {"mousemove", QString::number(200 + 40 * (i % 20)), "300"});
            QThread::msleep(100);
        }
    }

private:
    bool m_hadServer = false;
    QByteArray m_server;
};

} // namespace

TEST_F(RecordingWithoutSound, NoSoundServerStillRecordsThePictureAndSaysTheSoundIsMissing)
{
    startApp("unix:" + home.path() + "/no-server");
    tool("xdotool", {"key", "alt+shift+3"});
    ASSERT_TRUE(waitFor([&] { return barIsUp(); }, 20000)) << "the recording did not start";
    const int windowsBefore = plainlyNamedWindows();
    wiggle(2000);
    tool("xdotool", {"key", "alt+shift+3"});
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000))
        << "no recording in " << saveFolder.toStdString();
    EXPECT_TRUE(waitFor([&] { return !app.windowsNamed("^Velunta: Grava").isEmpty(); })) << "no toast";
    EXPECT_TRUE(waitFor([&] { return plainlyNamedWindows() == windowsBefore + 1; })) << "no warning";

    const RecordingProbe file = probeRecording(saveFolder + "/" + recordings().first());
    EXPECT_EQ(file.videoSize, QSize(1920, 1080));
    EXPECT_GT(file.duration, 1.5);
    EXPECT_EQ(file.audioStreams, 0);

    // Once dismissed, the warning is gone and the next recording can start.
    tool("xdotool", {"key", "Return"});
    EXPECT_TRUE(waitFor([&] { return plainlyNamedWindows() == windowsBefore; })) << "the warning stayed";
    tool("xdotool", {"key", "alt+shift+3"});
    EXPECT_TRUE(waitFor([&] { return barIsUp(); }, 20000)) << "the program did not go back to idle";
}

TEST_F(RecordingWithoutSound, TheSoundServerDyingKeepsThePictureGoingAndTheSoundSoFar)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
        GTEST_SKIP() << "needs pulseaudio";
    PrivateSoundServer server(home.path() + "/pulse");
    ASSERT_TRUE(server.start());
    startApp(server.address());

    tool("xdotool", {"key", "alt+shift+3"});
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitFor([&] { return barIsUp(); }, 20000)) << "the recording did not start";
    const double barAt = clock.elapsed() / 1000.0;
    const int windowsBefore = plainlyNamedWindows();
    wiggle(2500);
    server.kill();
    const double killedAt = clock.elapsed() / 1000.0;
    wiggle(2500);
    EXPECT_TRUE(barIsUp()) << "the recording ended with the sound";
    tool("xdotool", {"key", "alt+shift+3"});
    const double stoppedAt = clock.elapsed() / 1000.0;
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000));
    EXPECT_TRUE(waitFor([&] { return plainlyNamedWindows() == windowsBefore + 1; })) << "no warning";

    const QString path = saveFolder + "/" + recordings().first();
    const RecordingProbe file = probeRecording(path);
    EXPECT_EQ(file.videoSize, QSize(1920, 1080));
    // The recording started between the key press and the bar showing up.
    EXPECT_GT(file.duration, stoppedAt - barAt - 0.5);
    EXPECT_LT(file.duration, stoppedAt + 0.5);
    ASSERT_EQ(file.audioStreams, 1);
    EXPECT_NEAR(file.audioDuration, file.videoDuration, 0.2) << "the sound is padded to the picture's end";
    // The tone plays up to the kill, silence follows to the end.
    EXPECT_GT(AudioChecks::meanVolumeBetween(path, killedAt - barAt - 1.5, killedAt - barAt - 0.5), -40.0);
    const double silence = AudioChecks::trailingSilence(path);
    EXPECT_GT(silence, killedAt - barAt - 0.5);
    EXPECT_LT(silence, killedAt + 0.5);
}
