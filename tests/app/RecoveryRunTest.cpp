// The real program killed while recording (kill -9: no clean-up at all), or
// told to end (SIGTERM: the session closing), and started again: what it had
// written comes back as "(recuperada).mp4", and
// a folder another running Velunta owns is left alone. Then a recording on a
// small disk that fills up stops by itself, keeps what it has and alerts.
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/mount.h>

using namespace TestSupport;

namespace {

class RecoveryRun : public TrayRunFixture {
protected:
    QString cacheFolder() const { return home.cacheHome() + "/Velunta"; }
    QStringList segmentFolders() const
    {
        return QDir(cacheFolder()).entryList({"Velunta-*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList recovered() const { return QDir(saveFolder).entryList({"*(recuperada).mp4"}, QDir::Files); }

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

    void startRecording()
    {
        tool("xdotool", {"key", "alt+shift+3"});
        ASSERT_TRUE(waitFor([&] { return barIsUp(); }, 20000)) << "the recording did not start";
    }

    // The bar's pause button, which turns into "continue".
    void clickPause()
    {
        const QStringList bars = app.windowsNamed("^Velunta: recording controls");
        ASSERT_FALSE(bars.isEmpty());
        const QByteArray shell = tool("xdotool", {"getwindowgeometry", "--shell", bars.first()});
        int x = 0;
        int y = 0;
        for (const QByteArray &line : shell.split('\n')) {
            if (line.startsWith("X="))
                x = line.mid(2).toInt();
            if (line.startsWith("Y="))
                y = line.mid(2).toInt();
        }
        // The pause button sits at (90, 8), 36 by 32, in the 176 by 48 bar.
        tool("xdotool", {"mousemove", QString::number(x + 108), QString::number(y + 24), "click", "1"});
        QThread::msleep(500);
    }

    void killAndStartAgain()
    {
        app.process().kill();
        ASSERT_TRUE(app.process().waitForFinished(20000));
        ASSERT_EQ(segmentFolders().size(), 1) << "the dead recording's folder is on disk";
        EXPECT_TRUE(recordings().isEmpty());
        ASSERT_TRUE(app.start());
    }

    void expectRecovered(double atLeastSeconds)
    {
        ASSERT_TRUE(waitFor([&] { return recovered().size() == 1; }, 60000))
            << "nothing recovered into " << saveFolder.toStdString();
        EXPECT_TRUE(waitFor([&] { return !app.windowsNamed("^Velunta: Grava").isEmpty(); })) << "no toast";
        const RecordingProbe file = probeRecording(saveFolder + "/" + recovered().first());
        EXPECT_EQ(file.videoSize, QSize(1920, 1080));
        EXPECT_GE(file.duration, atLeastSeconds);
        EXPECT_TRUE(waitFor([&] { return segmentFolders().isEmpty(); })) << "the folder is gone";
        EXPECT_EQ(recordings().size(), 1) << "nothing but the recovered file";
    }
};

} // namespace

TEST_F(RecoveryRun, AKilledRecordingComesBackAtTheNextStart)
{
    ASSERT_TRUE(app.start());
    startRecording();
    wiggle(6000);
    killAndStartAgain();
    expectRecovered(4.0);
}

TEST_F(RecoveryRun, AKillDuringAPauseKeepsWhatCameBeforeIt)
{
    ASSERT_TRUE(app.start());
    startRecording();
    wiggle(6000);
    clickPause();
    QThread::msleep(1500);
    killAndStartAgain();
    expectRecovered(4.0);
}

TEST_F(RecoveryRun, AKillAfterAResumeKeepsBothStretches)
{
    ASSERT_TRUE(app.start());
    startRecording();
    wiggle(3500);
    clickPause();
    QThread::msleep(1000);
    clickPause();
    wiggle(3500);
    killAndStartAgain();
    expectRecovered(4.0);
}

TEST_F(RecoveryRun, TheSessionEndingWhileRecordingIsRecoveredAtTheNextStart)
{
    ASSERT_TRUE(app.start());
    startRecording();
    wiggle(5000);
    app.process().terminate();
    ASSERT_TRUE(app.process().waitForFinished(20000));
    EXPECT_EQ(app.process().exitCode(), 0);
    ASSERT_EQ(segmentFolders().size(), 1);
    EXPECT_TRUE(recordings().isEmpty()) << "unlike a stop, nothing is saved yet";
    // Closed, not cut off: the file ends with the fragment index written at
    // its end ("mfro" is the last box).
    const QByteArray segment = readFile(cacheFolder() + "/" + segmentFolders().first() + "/trecho-0.mp4");
    ASSERT_GT(segment.size(), 16);
    EXPECT_EQ(segment.mid(segment.size() - 12, 4), QByteArray("mfro"));
    ASSERT_TRUE(app.start());
    expectRecovered(4.0);
}

TEST_F(RecoveryRun, AFolderOfAnotherRunningVeluntaIsLeftAlone)
{
    // Another Velunta, in a home of its own, runs meanwhile.
    TempHome otherHome;
    TrayApp other(otherHome);
    ASSERT_TRUE(other.start());
    QDir().mkpath(cacheFolder());
    const auto folder = [&](const QString &name, qint64 pid) {
        const QString path = cacheFolder() + "/" + name;
        QDir().mkpath(path);
        writeFile(path + "/dono.lock", "pid=" + QByteArray::number(pid) + "\n");
        const ProcessResult made = run("ffmpeg",
            {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=320x240:r=30", "-t", "3", "-c:v", "libx264", "-movflags",
                "+frag_keyframe+empty_moov+default_base_moof", path + "/trecho-0.mp4"},
            QProcessEnvironment::systemEnvironment(), 60000);
        EXPECT_EQ(made.exitCode, 0) << made.err.toStdString();
        return path;
    };
    const QString owned = folder("Velunta-11111111-1111-1111-1111-111111111111", other.pid());
    // A control: a folder of a dead program, recovered by the same pass.
    folder("Velunta-22222222-2222-2222-2222-222222222222", 999999999);

    ASSERT_TRUE(app.start());
    ASSERT_TRUE(waitFor([&] { return recovered().size() == 1; }, 60000)) << "the dead folder was recovered";
    EXPECT_EQ(segmentFolders(), QStringList({"Velunta-11111111-1111-1111-1111-111111111111"}));
    EXPECT_TRUE(QFile::exists(owned + "/trecho-0.mp4"));
    EXPECT_TRUE(QFile::exists(owned + "/dono.lock"));
    other.stop();
}

// A 64 MB file system holds the save folder and the segments; it is filled
// up while recording, as another program would.
class SmallDiskRun : public RecoveryRun {
protected:
    void SetUp() override
    {
        RecoveryRun::SetUp();
        if (setUpEnded())
            return;
        m_disk = home.path() + "/pequeno";
        QDir().mkpath(m_disk);
        if (::mount("tmpfs", QFile::encodeName(m_disk).constData(), "tmpfs", 0, "size=64m") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << strerror(errno);
        m_mounted = true;
        home.setCacheHome(m_disk + "/cache");
        saveFolder = m_disk + "/Capturas";
        writeSettings("copiesScreenshots=false\n");
    }

    void TearDown() override
    {
        RecoveryRun::TearDown();
        if (m_mounted)
            ::umount2(QFile::encodeName(m_disk).constData(), MNT_DETACH);
    }

    // Leaves about LEFT bytes free on the small disk (none at all for 0).
    void fillLeaving(qint64 left)
    {
        QFile filler(m_disk + "/enchimento");
        ASSERT_TRUE(filler.open(QIODevice::Append | QIODevice::Unbuffered));
        for (qint64 block = 1 << 20; block >= 4096; block /= 4) {
            const QByteArray bytes(block, 'x');
            while (free() - block >= left && filler.write(bytes) == block) { }
        }
    }

    qint64 free() const
    {
        const ProcessResult df = run("stat", {"-f", "-c", "%a %S", m_disk}, QProcessEnvironment::systemEnvironment());
        const QList<QByteArray> fields = df.out.trimmed().split(' ');
        return fields.value(0).toLongLong() * fields.value(1).toLongLong();
    }

    // Windows titled just "Velunta" that were not there at the start: alerts
    // (the main window has the same title).
    QStringList alerts() const
    {
        QStringList found = app.windowsNamed("^Velunta$");
        for (const QString &id : m_mainWindows)
            found.removeAll(id);
        return found;
    }

    void startSmallRecording()
    {
        ASSERT_TRUE(app.start());
        QThread::msleep(1000);
        m_mainWindows = app.windowsNamed("^Velunta$");
        startRecording();
    }

    QStringList m_mainWindows;

    QString m_disk;
    bool m_mounted = false;
};

TEST_F(SmallDiskRun, ARecordingStopsBeforeTheDiskIsFullAndKeepsWhatItHas)
{
    startSmallRecording();
    wiggle(3000);
    // Less than two minutes at the least rate the recorder assumes.
    fillLeaving(12 << 20);
    wiggle(2000);
    ASSERT_TRUE(waitFor([&] { return !barIsUp(); }, 30000)) << "the recording went on";
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000));
    const RecordingProbe file = probeRecording(saveFolder + "/" + recordings().first());
    EXPECT_EQ(file.videoSize, QSize(1920, 1080));
    EXPECT_GE(file.duration, 3.0);
    // Its text (the cause) is the controller's, checked in its own tests.
    EXPECT_TRUE(waitFor([&] { return !alerts().isEmpty(); })) << "no alert";
    EXPECT_TRUE(segmentFolders().isEmpty());
}

TEST_F(SmallDiskRun, ADiskThatFillsUpAtOnceStillLeavesAPlayableRecording)
{
    startSmallRecording();
    wiggle(3000);
    fillLeaving(0);
    wiggle(3000);
    ASSERT_TRUE(waitFor([&] { return !barIsUp(); }, 30000)) << "the recording went on";
    ASSERT_TRUE(waitFor([&] { return !recordings().isEmpty(); }, 30000));
    const RecordingProbe file = probeRecording(saveFolder + "/" + recordings().first());
    EXPECT_EQ(file.videoSize, QSize(1920, 1080));
    EXPECT_GE(file.duration, 2.0);
    // Its text (the cause) is the controller's, checked in its own tests.
    EXPECT_TRUE(waitFor([&] { return !alerts().isEmpty(); })) << "no alert";
}
