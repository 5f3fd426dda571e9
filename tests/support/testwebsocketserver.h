// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtWebSockets>

// A secure WebSocket server on loopback that records what it receives and does on demand what a
// real server may do: send text, drop or close connections, refuse new ones.
class TestWebSocketServer : public QObject
{
    Q_OBJECT

public:
    explicit TestWebSocketServer(QObject* parent = nullptr);
    ~TestWebSocketServer() override;

    // Port 0 picks a free one; listening again after stopListening() reuses the last port.
    bool listen(quint16 port = 0);
    bool resumeListening() { return listen(m_port); }
    // Refuses new connections (the port is closed); open connections stay.
    void stopListening() { m_server.close(); }

    // Before listen(): present another certificate, e.g. one no client trusts.
    void setSslConfiguration(const QSslConfiguration& configuration) { m_server.setSslConfiguration(configuration); }

    quint16 port() const { return m_port; }
    QUrl url() const { return QUrl(QStringLiteral("wss://localhost:%1").arg(m_port)); }

    QStringList receivedMessages() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    int connectionCount() const { return int(m_clients.size()); }
    int connectionsAccepted() const { return m_accepted; }
    // The Authorization header of each connection accepted, in order; empty where none came.
    QByteArrayList authorizations() const { return m_authorizations; }

    void sendText(const QString& text);
    void dropConnections();
    void closeConnections(QWebSocketProtocol::CloseCode code, const QString& reason);

private:
    void onNewConnection();

    QWebSocketServer m_server;
    QList<QWebSocket*> m_clients;
    QStringList m_received;
    QByteArrayList m_authorizations;
    quint16 m_port = 0;
    int m_accepted = 0;
};
