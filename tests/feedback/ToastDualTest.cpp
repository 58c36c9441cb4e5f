// Runs the toast's two-screen case on a two-screen desktop of its own, so
// that it runs whatever desktop the rest of the tests have.
#include "support/DesktopGuards.h"

#include <gtest/gtest.h>

TEST(ToastDual, ShownOnTheScreenUnderThePointer)
{
    const auto run = TestSupport::runOnDualDesktop(
        qEnvironmentVariable("TOAST_X11_CASES"), {"--gtest_filter=*ShownOnTheScreenUnderThePointer*"}, 120000);
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    TestSupport::expectCleanExit(run.result);
    EXPECT_TRUE(run.result.out.contains("[  PASSED  ] 1 test")) << "the case did not run";
    EXPECT_FALSE(run.result.out.contains("SKIPPED")) << "the case was skipped";
}
