// Starts the two-screen desktop (Xorg with the dummy driver) and runs the
// overlay's two-screen cases on it, so that they run whatever desktop the
// rest of the tests have.
#include "support/DesktopGuards.h"

#include <gtest/gtest.h>

TEST(SelectionOverlayDual, TwoScreenCasesPass)
{
    const auto run = TestSupport::runOnDualDesktop(qEnvironmentVariable("SELECTION_DUAL_CASES"), {}, 240000);
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    TestSupport::expectCleanExit(run.result);
}
