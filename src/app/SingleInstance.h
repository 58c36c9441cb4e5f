#pragma once

#include "core/LaunchOptions.h"

#include <QObject>
#include <QString>
#include <optional>

class QLocalServer;

// One normal run per user and display. A second launch finds the first one's
// socket, asks it to reopen its window or to run a capture action (or, started
// quietly, asks nothing), and exits.
// The request is one line: "reopen", or the action's command-line flag.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);

    // True when this process is now the running instance. False when another
    // one answered and was handed ACTION, or told to reopen when there is none
    // (unless QUIET: a start at login must not pull a window forward).
    bool claim(LaunchOptions::Action action = LaunchOptions::Action::none, bool quiet = false);

    // The request line for ACTION, and back; nullopt for a line that names nothing.
    static QByteArray requestLine(LaunchOptions::Action action);
    static std::optional<LaunchOptions::Action> parseRequest(const QByteArray &line);

    static QString socketPath();

signals:
    void reopenRequested();
    void actionRequested(LaunchOptions::Action action);

private:
    QLocalServer *m_server = nullptr;
};
