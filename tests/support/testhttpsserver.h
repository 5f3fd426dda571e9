// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

// An HTTPS responder on loopback, one request at a time per kept-open connection; 404 elsewhere.
class TestHttpsServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/octet-stream";
        int delayMs = 0;
        bool never = false;   // never answered
        bool endless = false; // no length, and body bytes for as long as the peer reads
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
    QStringList requestedPaths() const { return m_requests; }
    QByteArrayList authorizations() const { return m_authorizations; } // each request's, empty for none
    int connectionCount() const { return m_connections; }

signals:
    void requested(const QString& path); // before it is answered

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
