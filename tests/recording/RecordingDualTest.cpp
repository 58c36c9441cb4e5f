// Starts the two-screen desktop (Xorg with the dummy driver) and runs the
// recording case that switches the second screen off on it.
#include "support/DesktopGuards.h"

#include <gtest/gtest.h>

TEST(RecordingDual, ASecondScreenSwitchedOffWhileRecording)
{
    const auto run = TestSupport::runOnDualDesktop(
        qEnvironmentVariable("RECORDING_X11_CASES"), {"--gtest_filter=*SwitchedOff*"}, 120000);
    if (!run.skipped.isEmpty())
        GTEST_SKIP() << run.skipped.toStdString();
    TestSupport::expectCleanExit(run.result);
    EXPECT_TRUE(run.result.out.contains("[  PASSED  ] 1 test")) << "the case did not run";
}
