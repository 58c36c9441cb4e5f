#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace {
const QByteArray reopenRequest = QByteArrayLiteral("reopen");
// A request is a few bytes; anything longer than this without a line end is not one.
constexpr qsizetype longestRequest = 64;
} // namespace

QByteArray SingleInstance::requestLine(LaunchOptions::Action action)
{
    if (action == LaunchOptions::Action::none)
        return reopenRequest + '\n';
    return LaunchOptions::actionFlag(action).toLatin1() + '\n';
}

std::optional<LaunchOptions::Action> SingleInstance::parseRequest(const QByteArray &line)
{
    const QByteArray request = line.trimmed();
    if (request == reopenRequest)
        return LaunchOptions::Action::none;
    using Action = LaunchOptions::Action;
    for (Action action : {Action::screenshot, Action::screenshotArea, Action::record, Action::recordArea}) {
        if (request == LaunchOptions::actionFlag(action).toLatin1())
            return action;
    }
    return std::nullopt;
}

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{
}

QString SingleInstance::socketPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("%1/Velunta-%2-%3.socket").arg(dir).arg(getuid()).arg(display);
}

bool SingleInstance::claim(LaunchOptions::Action action, bool quiet)
{
    const QString path = socketPath();
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000)) {
            if (action != LaunchOptions::Action::none || !quiet) {
                probe.write(requestLine(action));
                probe.waitForBytesWritten(1000);
            }
            probe.disconnectFromServer();
            return false;
        }
    }
    // Nobody answered: whatever socket file is there is left from a crash.
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path))
        return true; // still run; only the reopen hand-off is lost
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                while (client->canReadLine()) {
                    const auto request = parseRequest(client->readLine(longestRequest + 1));
                    if (!request)
                        continue;
                    if (*request == LaunchOptions::Action::none)
                        emit reopenRequested();
                    else
                        emit actionRequested(*request);
                }
                if (client->bytesAvailable() > longestRequest)
                    client->abort();
            });
        }
    });
    return true;
}
