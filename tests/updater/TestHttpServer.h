#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QTcpServer>
#include <QUrl>

// A small HTTP/1.1 server on 127.0.0.1 in the test process, answering each
// path with a fixed response and then closing the connection. It serves while
// the test runs an event loop (waiting for a coroutine, for example).
class TestHttpServer : public QObject {
public:
    struct Response {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // lower-case names
    };

    TestHttpServer();
    bool isListening() const { return m_server.isListening(); }
    QUrl url(const QString &path) const;

    void serve(const QString &path, Response response) { m_routes.insert(path.toUtf8(), std::move(response)); }
    void serve(const QString &path, const QByteArray &body) { serve(path, Response {200, body, {}}); }
    void redirect(const QString &path, const QUrl &to);

    const QList<Request> &requests() const { return m_requests; }

private:
    void answer(QTcpSocket *socket);
    QHash<QByteArray, Response> m_routes;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<Request> m_requests;
    // Last, so that its sockets go while the tables they touch still exist.
    QTcpServer m_server;
};
