#include "TestHttpServer.h"

#include <QTcpSocket>

TestHttpServer::TestHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_pending[socket] += socket->readAll();
                if (m_pending[socket].contains("\r\n\r\n"))
                    answer(socket);
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
        }
    });
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void TestHttpServer::redirect(const QString &path, const QUrl &to)
{
    serve(path, Response {302, {}, {{"Location", to.toEncoded()}}});
}

void TestHttpServer::answer(QTcpSocket *socket)
{
    const QByteArray raw = m_pending.take(socket);
    const QList<QByteArray> lines = raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    Request request;
    const QList<QByteArray> words = lines.value(0).trimmed().split(' ');
    request.method = words.value(0);
    request.path = words.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    const auto route = m_routes.constFind(request.path);
    const Response response = route == m_routes.constEnd() ? Response {404, "not found", {}} : *route;
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    for (const auto &[name, value] : response.headers)
        reply += name + ": " + value + "\r\n";
    if (response.status != 204 && response.status != 304)
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    reply += "Connection: close\r\n\r\n";
    if (response.status != 204 && response.status != 304)
        reply += response.body;
    socket->write(reply);
    socket->disconnectFromHost();
}
