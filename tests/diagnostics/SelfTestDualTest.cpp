// The self-test on two screens (Xorg with the dummy driver): each screen gets
// its own lines and files, tela0 and tela1.
#include "SelfTestRunChecks.h"
#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <iostream>

using namespace SelfTestRunChecks;

TEST(SelfTestDual, EachScreenGetsItsOwnLinesAndFiles)
{
    const QString source = TestSupport::sourceDir();
    if (source.isEmpty() || TestSupport::appPath().isEmpty())
        GTEST_SKIP() << "run through ctest";
    if (QStandardPaths::findExecutable("Xorg").isEmpty() || QStandardPaths::findExecutable("ffprobe").isEmpty())
        GTEST_SKIP() << "needs Xorg with the dummy driver and ffprobe";

    const QString script = source + "/scripts/test-desktop";
    const auto started
        = TestSupport::run(script, {"start", "--dual", "--no-tray"}, QProcessEnvironment::systemEnvironment(), 60000);
    ASSERT_EQ(started.exitCode, 0) << started.err.toStdString();
    TestSupport::TempHome home;
    QProcessEnvironment environment = home.environment();
    applyExports(started.out, environment);
    const QString state = environment.value("VELUNTA_DESKTOP_STATE");
    ASSERT_FALSE(state.isEmpty());
    const auto stop = qScopeGuard([&] {
        TestSupport::run(script, {"stop", state}, QProcessEnvironment::systemEnvironment(), 30000);
    });

    const QString folder = home.path() + "/autoteste";
    const auto result = TestSupport::run(TestSupport::appPath(), {"--self-test", folder}, environment, 240000);
    std::cout << result.err.toStdString();
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.exitCode, 0);

    const QStringList lines = reportLines(folder + "/result.txt");
    ASSERT_EQ(lines.size(), 16) << lines.join('\n').toStdString();
    int at = checkScreen(lines, 0, folder, {"tela0", QSize(1920, 1080)});
    at += checkScreen(lines, at, folder, {"tela1", QSize(1280, 1024)});
    checkClosingLines(lines, at);
}
