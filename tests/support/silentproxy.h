// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

// Forwards bytes to a loopback port; given none, tunnels each CONNECT request to its port on
// loopback, whatever host it names. Silenced links swallow everything; new links still work.
class SilentProxy : public QObject
{
    Q_OBJECT

public:
    explicit SilentProxy(quint16 targetPort = 0, QObject* parent = nullptr);

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    void silenceOpenLinks();
    void cut();                                       // until listen() again
    QStringList tunnels() const { return m_tunnels; } // each CONNECT's "host:port"

private:
    void onNewConnection();
    void readConnectRequest(QTcpSocket* client);
    void link(QTcpSocket* client, quint16 port);

    QTcpServer m_server;
    quint16 m_targetPort;
    QStringList m_tunnels;
};
