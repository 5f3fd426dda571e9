// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectionlistener.h"
#include "serveroptions.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>

class HttpConnection;
class PeerLimits;
class QTcpSocket;

// Who gets in: connections taken from the listener a batch per turn, the total open at once, the
// connections still in their handshake or head (older ones make way for newcomers), and the
// connections each address may hold.
class ConnectionGate : public QObject
{
    Q_OBJECT

public:
    ConnectionGate(const ServerOptions& options, PeerLimits& limits);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_listener.serverPort(); }
    QString errorString() const { return m_listener.errorString(); }
    // False, and answered 429, when client already holds all the connections it may.
    bool admit(HttpConnection* connection, const QHostAddress& client);

signals:
    // A connection let in, before its handshake starts: connect to its requests here.
    void connectionOpened(HttpConnection* connection);

private:
    void onNewConnection();
    void onAcceptError();
    void scheduleTake(int delayMs);
    void takeConnections();
    bool makeRoomToWait();
    void onConnectionAccepted(QTcpSocket* socket);
    void onHeadReceived(HttpConnection* connection);
    bool admitWaiting(HttpConnection* connection);
    void dropWaiting(HttpConnection* connection);
    bool evictOldest(const QList<QPointer<HttpConnection>>& waiting);
    void startEncryption(QTcpSocket* socket);

    const ServerOptions& m_options;
    PeerLimits& m_limits;
    ConnectionListener m_listener;
    bool m_takeScheduled = false;
    QList<QPointer<HttpConnection>> m_waiting;
    // The same connections by address (IPv6 by its /64), for each address's own bound.
    QHash<QHostAddress, QList<QPointer<HttpConnection>>> m_waitingByAddress;
    int m_connections = 0;
};
