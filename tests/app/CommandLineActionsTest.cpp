// "velunta --screenshot" and friends, as a desktop's own keyboard settings or
// the desktop entry's actions run them: the running Velunta does the capture,
// and a Velunta is started for it when none runs. "velunta --background", as
// the login entry runs it, starts the tray run without any window.
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class CommandLineActions : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop";
        saveFolder = home.path() + "/Capturas";
        writeFile(home.settingsFile(),
            "[General]\nhasCompletedOnboarding=true\ncopiesScreenshots=false\ncapturesSystemAudio=false\n"
            "saveFolder="
                + saveFolder.toUtf8() + "\n");
    }

    QStringList files(const QString &pattern) const { return QDir(saveFolder).entryList({pattern}, QDir::Files); }
    // A later launch: it hands the action over and ends at once.
    void launch(const QString &flag)
    {
        const ProcessResult r
            = run(appPath(), flag.isEmpty() ? QStringList() : QStringList {flag}, home.environment(), 15000);
        EXPECT_EQ(r.exitCode, 0) << flag.toStdString() << ": " << r.err.toStdString();
        EXPECT_FALSE(r.timedOut) << flag.toStdString() << " kept running beside the first instance";
    }

    // Its mapped windows as "id "title" width", leaving out the tray icon
    // (which may count as one, a few dozen pixels wide).
    static QStringList shownWindows(const TrayApp &app)
    {
        static const QRegularExpression width("Width: (\\d+)");
        QStringList shown;
        for (const QString &id : app.windowsNamed(".*")) {
            const QString info = QString::fromUtf8(tool("xwininfo", {"-id", id}));
            const QString pixels = width.match(info).captured(1);
            if (pixels.toInt() > 64)
                shown << info.section('\n', 0, 0).section(':', 2).trimmed() + " " + pixels;
        }
        return shown;
    }

    TempHome home;
    QString saveFolder;
};

} // namespace

TEST_F(CommandLineActions, TheRunningInstanceTakesScreenshotsAndRecordings)
{
    TrayApp app(home);
    ASSERT_TRUE(app.start());

    launch("--screenshot");
    EXPECT_TRUE(waitFor([&] { return files("Print *.png").size() == 1; })) << "no screenshot";

    launch("--record");
    ASSERT_TRUE(waitFor([&] { return !app.windowsNamed("^Velunta: recording controls").isEmpty(); }))
        << "the running instance did not start recording";
    for (int i = 0; i < 6; ++i) {
        tool("xdotool", {"mousemove", QString::number(300 + 50 * i), "400"});
        QThread::msleep(200);
    }
    launch("--record");
    ASSERT_TRUE(waitFor([&] { return files("Grava*.mp4").size() == 1; }, 30000)) << "no recording";
    EXPECT_GT(probeRecording(saveFolder + "/" + files("Grava*.mp4").first()).duration, 0.5);
    EXPECT_EQ(app.process().state(), QProcess::Running);
    EXPECT_EQ(files("Print *.png").size(), 1);
}

TEST_F(CommandLineActions, WithNoneRunningAScreenshotStartsVelunta)
{
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(appPath(), {"--screenshot"});
    ASSERT_TRUE(first.waitForStarted());
    EXPECT_TRUE(waitFor([&] { return files("Print *.png").size() == 1; })) << "no screenshot";
    // It stays as the tray run and takes the next request.
    EXPECT_FALSE(first.waitForFinished(500));
    QThread::msleep(1100); // the next screenshot gets a name of its own second
    launch("--screenshot");
    EXPECT_TRUE(waitFor([&] { return files("Print *.png").size() == 2; })) << "the second request was lost";
    first.terminate();
    if (!first.waitForFinished(5000))
        first.kill();
}

TEST_F(CommandLineActions, StartedInTheBackgroundNoWindowComesUpUntilAPlainLaunchAsks)
{
    // An entry as an older Velunta wrote it, opening the main window at every login.
    const QString entry = home.configHome() + "/autostart/app.velunta.Velunta.desktop";
    const QByteArray program = QFileInfo(appPath()).canonicalFilePath().toUtf8();
    ASSERT_FALSE(program.contains(' '));
    writeFile(entry, "[Desktop Entry]\nType=Application\nName=Velunta\nExec=" + program + "\n");

    TrayApp app(home);
    ASSERT_TRUE(app.start({"--background"}));
    QThread::msleep(2000);
    EXPECT_EQ(shownWindows(app).join(", ").toStdString(), "") << "started in the background";
    EXPECT_EQ(app.process().state(), QProcess::Running);
    EXPECT_TRUE(readFile(entry).contains("\nExec=" + program + " --background\n")) << readFile(entry).constData();

    // A second start at login ends at once and asks nothing of the first.
    launch("--background");
    QThread::msleep(2000);
    EXPECT_EQ(shownWindows(app).join(", ").toStdString(), "") << "a quiet second launch brought a window up";

    // Opened from the menu, it still shows its window.
    launch(QString());
    EXPECT_TRUE(waitFor([&] { return !app.windowsNamed("^Velunta$").isEmpty(); })) << "no main window";
    EXPECT_EQ(app.process().state(), QProcess::Running);
}

TEST_F(CommandLineActions, StartedInTheBackgroundANewUserStillMeetsTheIntroduction)
{
    writeFile(home.settingsFile(), "[General]\nsaveFolder=" + saveFolder.toUtf8() + "\n");
    TrayApp app(home);
    ASSERT_TRUE(app.start({"--background"}));
    QStringList shown;
    EXPECT_TRUE(waitFor([&] { return !(shown = shownWindows(app)).isEmpty(); })) << "no introduction";
    ASSERT_EQ(shown.size(), 1) << shown.join(", ").toStdString();
    EXPECT_TRUE(shown.first().endsWith(" 680"))
        << "the 680-point-wide introduction, not " << shown.first().toStdString();
}

TEST(CommandLine, HelpAndVersionPrintAndEndWithoutADisplay)
{
    TempHome home;
    QProcessEnvironment env = home.environment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    ProcessResult r = run(appPath(), {"--help"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Uso: velunta")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("--screenshot-area"));
    r = run(appPath(), {"--version"}, env);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
        "Velunta " + qEnvironmentVariable("VELUNTA_EXPECTED_VERSION", "0.1.0").toUtf8() + " (build "
            + qEnvironmentVariable("VELUNTA_EXPECTED_BUILD", "1").toUtf8() + ")\n");
    // Any other unknown argument is still a normal run, which needs a display.
    r = run(appPath(), {"--nonsense"}, env);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("DISPLAY"));
}
