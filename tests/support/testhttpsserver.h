// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

class QSslSocket;

// A minimal HTTPS responder on loopback: serves given bytes at given paths with a given status,
// after a delay, never, or as a body that never ends. Unknown paths get 404. A connection is
// kept open for the next request, one request at a time, as HTTP/1.1 servers do.
class TestHttpsServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/octet-stream";
        int delayMs = 0;      // before the answer is sent
        bool never = false;   // the request is read and never answered
        bool endless = false; // headers without a length, then body bytes for as long as the peer reads
    };

    explicit TestHttpsServer(QObject* parent = nullptr);

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString& path = QString()) const;

    void setResponse(const QString& path, const Response& response) { m_responses.insert(path, response); }
    void setResponse(const QString& path, int status, const QByteArray& body, int delayMs = 0)
    {
        setResponse(path, {status, body, "application/octet-stream", delayMs});
    }
    // Every request's path, in arrival order.
    QStringList requestedPaths() const { return m_requests; }
    // Every request's Authorization header, in the same order; empty where none came.
    QByteArrayList authorizations() const { return m_authorizations; }
    // Connections accepted since the server started listening.
    int connectionCount() const { return m_connections; }

signals:
    // As soon as a request's head is in, before it is answered.
    void requested(const QString& path);

private:
    void onPendingConnection();
    void onReadyRead(QSslSocket* socket);
    void respond(QSslSocket* socket, const Response& response);
    void feedEndless(QSslSocket* socket);

    QSslServer m_server;
    QHash<QString, Response> m_responses;
    QStringList m_requests;
    QByteArrayList m_authorizations;
    int m_connections = 0;
};

Q_DECLARE_METATYPE(TestHttpsServer::Response)
