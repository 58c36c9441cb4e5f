// The self-test on two screens (Xorg with the dummy driver): each screen gets
// its own lines and files, tela0 and tela1.
#include "SelfTestRunChecks.h"
#include "support/DesktopGuards.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace SelfTestRunChecks;

TEST(SelfTestDual, EachScreenGetsItsOwnLinesAndFiles)
{
    if (QStandardPaths::findExecutable("ffprobe").isEmpty())
        GTEST_SKIP() << "needs ffprobe";
    TestSupport::TempHome home;
    const QString folder = home.path() + "/autoteste";
    const auto run
        = TestSupport::runOnDualDesktop(TestSupport::appPath(), {"--self-test", folder}, 240000, home.environment());
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    TestSupport::expectCleanExit(run.result);

    const QStringList lines = reportLines(folder + "/result.txt");
    ASSERT_EQ(lines.size(), 16) << lines.join('\n').toStdString();
    int at = checkScreen(lines, 0, folder, {"tela0", QSize(1920, 1080)});
    at += checkScreen(lines, at, folder, {"tela1", QSize(1280, 1024)});
    checkClosingLines(lines, at);
}
