#pragma once

#include "diagnostics/SelfTestContext.h"

// The self-test's check of the area selection.
namespace SelfTest {

// The real overlay, driven by a simulated drag from (500, 400) up to
// (100, 100) in the first screen's window.
QCoro::Task<void> checkSelection(Context &context);

} // namespace SelfTest
