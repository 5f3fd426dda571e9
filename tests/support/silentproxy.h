// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

class QTcpSocket;

// Forwards bytes between a client and a loopback port. Given no port, it is a web proxy instead:
// it answers the client's CONNECT request and tunnels to that port on loopback, whatever host the
// request names. Silenced, the links open at that moment swallow everything in both directions,
// so the client sees a peer that is still connected but no longer answers; new links still work.
class SilentProxy : public QObject
{
    Q_OBJECT

public:
    explicit SilentProxy(quint16 targetPort = 0, QObject* parent = nullptr);

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    void silenceOpenLinks();
    // Every open link ends, and new ones are refused until listen() is called again.
    void cut();
    // The "host:port" of every CONNECT request, in arrival order.
    QStringList tunnels() const { return m_tunnels; }

private:
    void onNewConnection();
    void readConnectRequest(QTcpSocket* client);
    void link(QTcpSocket* client, quint16 port);

    QTcpServer m_server;
    quint16 m_targetPort;
    QStringList m_tunnels;
};
