// `Velunta --self-test FOLDER` on the test desktop: the real program, its
// report and the screenshots and recordings it leaves.
#include "SelfTestRunChecks.h"
#include "support/DesktopGuards.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using namespace SelfTestRunChecks;

namespace {

class SelfTestRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TestSupport::appPath().isEmpty())
            GTEST_SKIP() << "run through ctest";
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        if (QStandardPaths::findExecutable("ffprobe").isEmpty() || QStandardPaths::findExecutable("xclip").isEmpty())
            GTEST_SKIP() << "needs ffprobe and xclip";
        environment = home.environment();
        environment.insert("TMPDIR", home.path() + "/tmp");
        QDir().mkpath(home.path() + "/tmp");
    }

    // The screens as the X server has them: "WIDTHxHEIGHT" of each RandR
    // monitor, left to right as xrandr lists them.
    static QList<QSize> monitors()
    {
        QProcess xrandr;
        xrandr.start("xrandr", {"--listactivemonitors"});
        xrandr.waitForFinished(10000);
        QList<QSize> sizes;
        const QRegularExpression monitor(R"(^\s*\d+: \S+ (\d+)/\d+x(\d+)/\d+)", QRegularExpression::MultilineOption);
        for (auto match = monitor.globalMatch(QString::fromUtf8(xrandr.readAllStandardOutput())); match.hasNext();) {
            const auto found = match.next();
            sizes.append(QSize(found.captured(1).toInt(), found.captured(2).toInt()));
        }
        return sizes;
    }

    static void setClipboard(const QString &selection, const QByteArray &text)
    {
        QProcess xclip;
        xclip.start("xclip", {"-selection", selection, "-i"});
        xclip.waitForStarted();
        xclip.write(text);
        xclip.closeWriteChannel();
        xclip.waitForFinished(10000);
    }

    static QByteArray clipboard(const QString &selection)
    {
        QProcess xclip;
        xclip.start("xclip", {"-selection", selection, "-o"});
        xclip.waitForFinished(10000);
        return xclip.readAllStandardOutput();
    }

    // Runs the whole self-test and checks every line and file it leaves,
    // reading the report while it grows.
    void runsAndPassesEveryCheck()
    {
        setClipboard("clipboard", "conteúdo do usuário");
        setClipboard("primary", "seleção do usuário");
        const QString folder = home.path() + "/relatorios/autoteste";

        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(TestSupport::appPath(), {"--self-test", folder});
        ASSERT_TRUE(app.waitForStarted(10000));
        // Read while it runs: the file is only ever replaced whole, so every read
        // is a report of complete lines that only grows.
        QElapsedTimer clock;
        clock.start();
        qsizetype seen = 0;
        int reads = 0;
        while (app.state() != QProcess::NotRunning && clock.elapsed() < 200000) {
            app.waitForFinished(20);
            const QByteArray text = TestSupport::readFile(folder + "/result.txt");
            if (text.isEmpty())
                continue;
            ++reads;
            EXPECT_TRUE(text.endsWith('\n')) << "a half-written report was visible";
            const qsizetype lines = text.count('\n');
            EXPECT_GE(lines, seen);
            seen = lines;
        }
        ASSERT_EQ(app.state(), QProcess::NotRunning) << "the self-test did not end";
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_GT(reads, 10);

        const QStringList lines = reportLines(folder + "/result.txt");
        const QList<QSize> screens = monitors();
        ASSERT_FALSE(screens.isEmpty());
        ASSERT_EQ(lines.size(), 6 * screens.size() + 4) << lines.join('\n').toStdString();
        int at = 0;
        for (int i = 0; i < screens.size(); ++i)
            at += checkScreen(lines, at, folder, {QString("tela%1").arg(i), screens[i]});
        checkClosingLines(lines, at);

        // The clipboard check used a selection of its own.
        EXPECT_EQ(clipboard("clipboard"), "conteúdo do usuário");
        EXPECT_EQ(clipboard("primary"), "seleção do usuário");
        // Every recorder removed its private folder.
        EXPECT_EQ(QDir(home.path() + "/tmp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    TestSupport::TempHome home;
    QProcessEnvironment environment;
};

TEST_F(SelfTestRun, ChecksCaptureRecordingSelectionAndClipboardAndEndsWithFim)
{
    runsAndPassesEveryCheck();
}

TEST_F(SelfTestRun, PassesUnderACompositingManager)
{
    // Translucent overlays and redirected windows: the selection overlay
    // shows the desktop through itself and the exclusion works on frames
    // the compositor also draws.
    if (const QString missing = TestSupport::CompositingManagerRun::unavailable(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    TestSupport::CompositingManagerRun compositor;
    ASSERT_TRUE(compositor.start());
    runsAndPassesEveryCheck();
}

TEST_F(SelfTestRun, WithoutScreenAccessTheReportHasOnlyThePermissionLine)
{
    // A Wayland session: an X11 capture would only see X clients.
    environment.insert("XDG_SESSION_TYPE", "wayland");
    const QString folder = home.path() + "/autoteste";
    const auto result = TestSupport::run(TestSupport::appPath(), {"--self-test", folder}, environment, 60000);
    EXPECT_FALSE(result.crashed);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    // The portal it would need is named after the fixed text.
    const QString report = QString::fromUtf8(TestSupport::readFile(folder + "/result.txt"));
    EXPECT_TRUE(report.startsWith("FAIL permission: Gravação de Tela não autorizada (")) << report.toStdString();
    EXPECT_TRUE(report.contains("org.freedesktop.portal.Screenshot")) << report.toStdString();
    EXPECT_EQ(report.count('\n'), 1) << report.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList {"result.txt"});
}

} // namespace
