#pragma once

#include "diagnostics/SelfTestContext.h"

// The self-test's checks of screenshots and of the clipboard.
namespace SelfTest {

// Screenshot of TARGET into NAME.png.
QCoro::Task<void> checkScreenshot(Context &context, QString name, CaptureTarget target);

// A file URL offered through the window system's clipboard machinery and
// read back, as an application pasting it would.
QCoro::Task<void> checkClipboard(Context &context);

} // namespace SelfTest
