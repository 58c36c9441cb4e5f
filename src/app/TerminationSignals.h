#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C, a closed
// terminal) into a call on the event loop: onTermination, which is expected
// to quit in order (a recording in progress is closed and kept for the next
// start to recover). Later signals are not heard: a session ending sends
// SIGHUP right after SIGTERM. Without onTermination the event loop quits.
// One per process; GUI thread.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isInstalled() const { return bool(m_notifier); }

    std::function<void()> onTermination;

private:
    bool m_hasReceived = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
