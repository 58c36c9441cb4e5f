#pragma once

#include "diagnostics/SelfTestContext.h"

// The self-test's checks of recordings.
namespace SelfTest {

// Records TARGET for three seconds with the magenta window and the control
// bar on screen: the recording must not show the window, while a capture that
// leaves nothing out at the same moment does.
QCoro::Task<void> checkRecording(Context &context, QString name, CaptureTarget target, DisplayInfo screen);

// Two seconds, a two-second pause, two more seconds: one file of about four
// seconds, without black frames where the pause was.
QCoro::Task<void> checkPause(Context &context, QString name, CaptureTarget target, DisplayInfo screen);

} // namespace SelfTest
