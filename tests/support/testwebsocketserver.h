// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtWebSockets>

// A secure WebSocket server on loopback that records what it receives.
class TestWebSocketServer : public QObject
{
    Q_OBJECT

public:
    explicit TestWebSocketServer(QObject* parent = nullptr);
    ~TestWebSocketServer() override;

    bool listen(quint16 port = 0);
    bool resumeListening() { return listen(m_port); }
    void stopListening() { m_server.close(); } // open connections stay
    void setSslConfiguration(const QSslConfiguration& configuration) { m_server.setSslConfiguration(configuration); }

    quint16 port() const { return m_port; }
    QUrl url() const { return QUrl(QStringLiteral("wss://localhost:%1").arg(m_port)); }

    QStringList receivedMessages() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    int connectionCount() const { return int(m_clients.size()); }
    int connectionsAccepted() const { return m_accepted; }
    QByteArrayList authorizations() const { return m_authorizations; } // each connection's, empty for none

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
