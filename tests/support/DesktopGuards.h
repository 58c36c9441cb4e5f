#pragma once

// Desktops that some tests need and the everyday test desktop does not give:
// a compositing manager, and two screens.
#include "support/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

namespace TestSupport {

// xcompmgr on the test desktop from start() until stop() or the end of the
// object, so that a compositing manager never outlives the test that
// wanted one.
class CompositingManagerRun {
public:
    CompositingManagerRun() = default;
    CompositingManagerRun(const CompositingManagerRun &) = delete;
    CompositingManagerRun &operator=(const CompositingManagerRun &) = delete;
    ~CompositingManagerRun() { stop(); }

    // Why this desktop cannot have one ("needs xcompmgr"); empty when it can.
    static QString unavailable();

    // Starts it, then waits (handling events) until RUNNING says it is up, or
    // for half a second when there is no way to ask. False when it did not
    // start or never came up.
    bool start(const std::function<bool()> &running = {});
    // Stops it and waits until RUNNING no longer says it is up.
    void stop();

private:
    QProcess m_process;
    std::function<bool()> m_running;
};

// Runs PROGRAM with ARGUMENTS, in BASE with the display variables swapped,
// on a two-screen desktop of its own (Xorg with the dummy driver: DUMMY0
// 1920x1080 at 0,0 and DUMMY1 1280x1024 at 1920,0), started for it and
// stopped afterwards. SKIPPED says why it could not run here (outside ctest,
// no Xorg); a desktop that fails to start fails the test.
struct DualDesktopRun {
    QString skipped;
    ProcessResult result;
};
DualDesktopRun runOnDualDesktop(const QString &program, const QStringList &arguments, int timeoutMs,
    const QProcessEnvironment &base = QProcessEnvironment::systemEnvironment());
// What the run printed goes to this test's output; the run must have ended
// by itself with exit code 0.
void expectCleanExit(const ProcessResult &result);

} // namespace TestSupport
