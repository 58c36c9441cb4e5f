#pragma once

// Waiting in a test that has windows of its own: the event loop keeps
// running, so that they paint and answer the window system meanwhile.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace TestSupport {

// Runs the event loop until CONDITION holds or MS pass; whether it held.
inline bool waitUntil(const std::function<bool()> &condition, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Runs the event loop for MS.
inline void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

} // namespace TestSupport
