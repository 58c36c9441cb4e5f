#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One normal run per user and display. A second launch finds the first one's
// socket, asks it to reopen its window, and exits.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);

    // True when this process is now the running instance. False when another
    // one answered and was told to reopen.
    bool claim();

    static QString socketPath();

signals:
    void reopenRequested();

private:
    QLocalServer *m_server = nullptr;
};
