#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Turns SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C, a closed
// terminal) into an orderly quit of the event loop, so that a recording in
// progress is dropped with its temporary files instead of leaving them behind.
// One per process; GUI thread.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isInstalled() const { return bool(m_notifier); }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
