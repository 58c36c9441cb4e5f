#pragma once

// What the self-test's checks share: the run's platform, folder and report,
// and the waits they use.
//
// g++ 12 destroys temporaries that live across a co_await twice (braced
// lists, lambdas passed straight to QtConcurrent::run, strings built inside
// the awaited call): every task and future is a named local before it is
// awaited, and so is everything passed to it.

#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "platform/PlatformServices.h"
#include "platform/ScreenSource.h"

#include <QCoroTask>
#include <QDir>
#include <QString>
#include <chrono>
#include <functional>

class SelfTestReport;
class WindowManager;

namespace SelfTest {

// What the checks share.
struct Context {
    PlatformServices &platform;
    ScreenSource &screens;
    WindowManager &windowManager;
    QDir folder;
    SelfTestReport &report;
    // Wayland: windows go where the compositor puts them, and every window
    // of the application shows in captures and recordings.
    bool onWayland = false;
};

// "FAIL ", the check's name, ": " and why.
QString failLine(const QString &name, const QString &why);

// Removes an earlier run's file off the GUI thread; errors ignored.
QCoro::Task<void> removeFile(QString path);

// The magenta pixels of the target's area captured with nothing left out,
// one pixel per point.
QCoro::Task<Result<int, QString>> magentaCountWithoutExclusion(ScreenSource &screens, CaptureTarget target);

// Waits at least DURATION on the monotonic clock, leaving the event loop
// running. Qt's default coarse timers may fire up to 5 % early, which would
// shorten the recordings the checks measure.
QCoro::Task<void> sleepAtLeast(std::chrono::milliseconds duration);

// Waits on the event loop until CONDITION holds or TIMEOUT passes.
QCoro::Task<bool> waitFor(std::function<bool()> condition, std::chrono::milliseconds timeout);

} // namespace SelfTest
