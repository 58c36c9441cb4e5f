// "velunta --screenshot" and friends, as a desktop's own keyboard settings or
// the desktop entry's actions run them: the running Velunta does the capture,
// and a Velunta is started for it when none runs.
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
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
        const ProcessResult r = run(appPath(), {flag}, home.environment(), 15000);
        EXPECT_EQ(r.exitCode, 0) << flag.toStdString() << ": " << r.err.toStdString();
        EXPECT_FALSE(r.timedOut) << flag.toStdString() << " kept running beside the first instance";
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
