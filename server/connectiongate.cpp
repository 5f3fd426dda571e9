// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectiongate.h"

#include "httpconnection.h"
#include "peerlimits.h"
#include "serverlimits.h"
#include "socketbacklog.h"

#include <QSslSocket>
#include <QTimer>

ConnectionGate::ConnectionGate(const ServerOptions& options, PeerLimits& limits)
    : m_options(options)
    , m_limits(limits)
{
    m_listener.setTls(!options.plain);
    // Connections are taken a batch per turn of the event loop, between the handshakes and
    // answers under way; behind a proxy every connection is the proxy's.
    m_listener.setWaitBounds(options.maxAcceptedWaiting, options.plain ? 0 : options.maxConnectionsPerAddress,
                             options.headTimeoutMs);
    m_listener.setListenBacklogSize(ServerLimits::LISTEN_BACKLOG);
    connect(&m_listener, &QTcpServer::newConnection, this, &ConnectionGate::onNewConnection);
    connect(&m_listener, &QTcpServer::acceptError, this, &ConnectionGate::onAcceptError);
}

bool ConnectionGate::listen(const QHostAddress& address, quint16 port)
{
    return m_listener.listen(address, port);
}

bool ConnectionGate::admit(HttpConnection* connection, const QHostAddress& client)
{
    // A kept connection was counted with its first request.
    if (connection->requestCount() != 1 || m_limits.admit(client, connection->socket()))
        return true;
    connection->respond(429, HttpConnection::TEXT, "Trop de connexions depuis votre adresse.\n");
    return false;
}

// The listener stops accepting after an error such as running out of open files; it tries again
// once connections have had time to close, rather than never.
void ConnectionGate::onAcceptError()
{
    qWarning().noquote() << "Acceptation impossible :" << m_listener.errorString();
    QTimer::singleShot(ServerLimits::ACCEPT_RETRY_MS, this, [this] {
        if (m_listener.isListening())
            m_listener.resumeAccepting();
    });
}

void ConnectionGate::onNewConnection()
{
    scheduleTake(0);
}

void ConnectionGate::scheduleTake(int delayMs)
{
    if (m_takeScheduled)
        return;
    m_takeScheduled = true;
    QTimer::singleShot(delayMs, this, &ConnectionGate::takeConnections);
}

// While every waiting place is taken by a handshake under way, newcomers stay with the listener:
// turned away, a crowd's later members would lose their place to its earlier ones.
void ConnectionGate::takeConnections()
{
    m_takeScheduled = false;
    for (int i = 0; i < ServerLimits::CONNECTIONS_TAKEN_PER_TURN && m_listener.hasPendingConnections(); ++i) {
        if (!makeRoomToWait()) {
            scheduleTake(ServerLimits::WAITING_FULL_RETRY_MS);
            return;
        }
        QTcpSocket* socket = m_listener.nextPendingConnection();
        if (!socket)
            return;
        onConnectionAccepted(socket);
    }
    if (m_listener.hasPendingConnections())
        scheduleTake(0);
}

bool ConnectionGate::makeRoomToWait()
{
    m_waiting.removeAll(nullptr);
    return m_waiting.size() < ServerLimits::MAX_WAITING || evictOldest(m_waiting);
}

void ConnectionGate::onConnectionAccepted(QTcpSocket* socket)
{
    if (m_connections >= m_options.maxConnections) {
        m_limits.logOffence(socket->peerAddress(), QStringLiteral("plus de connexions possibles au total"));
        m_waiting.removeAll(nullptr);
        // A newcomer takes the place of the oldest connection still silent, if there is one.
        if (!evictOldest(m_waiting)) {
            socket->abort();
            delete socket;
            return;
        }
    }
    ++m_connections;
    connect(PeerLimits::lifeOf(socket), &QObject::destroyed, this, [this] { --m_connections; });
    auto* connection =
        new HttpConnection(socket, m_options.maxUploadBytes,
                           {m_options.headTimeoutMs, m_options.idleTimeoutMs, m_options.bodyTimeoutMs}, this);
    connect(connection, &HttpConnection::headReceived, this, &ConnectionGate::onHeadReceived);
    emit connectionOpened(connection);
    // A connection turned away costs no TLS set-up.
    if (admitWaiting(connection))
        startEncryption(socket);
}

void ConnectionGate::startEncryption(QTcpSocket* socket)
{
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->setSslConfiguration(m_options.tls);
        tls->startServerEncryption();
    }
}

void ConnectionGate::onHeadReceived(HttpConnection* connection)
{
    dropWaiting(connection);
}

bool ConnectionGate::admitWaiting(HttpConnection* connection)
{
    if (m_options.plain) {
        m_waiting.append(connection);
        return true;
    }
    const QHostAddress key = PeerLimits::keyOf(connection->peerAddress());
    QList<QPointer<HttpConnection>>& same = m_waitingByAddress[key];
    const bool addressFull = same.size() >= qMin(m_options.maxConnectionsPerAddress, ServerLimits::MAX_WAITING);
    if (addressFull && !evictOldest(same)) {
        connection->abort();
        return false;
    }
    m_waiting.append(connection);
    same.append(connection);
    // A connection closed while it waits leaves its address's list; an address with none left
    // leaves the table.
    connect(connection, &QObject::destroyed, this, [this, key] {
        auto found = m_waitingByAddress.find(key);
        if (found == m_waitingByAddress.end())
            return;
        found->removeAll(nullptr);
        if (found->isEmpty())
            m_waitingByAddress.erase(found);
    });
    return true;
}

void ConnectionGate::dropWaiting(HttpConnection* connection)
{
    if (!m_waiting.removeOne(connection) || m_options.plain)
        return;
    auto found = m_waitingByAddress.find(PeerLimits::keyOf(connection->peerAddress()));
    if (found != m_waitingByAddress.end())
        found->removeOne(connection);
}

// Drops the oldest of waiting (the first) that may make way; false when nothing was dropped. A
// silent one may once it has waited evictAfterMs. One whose peer has spoken is in its handshake:
// later, and never while bytes of its wait unread, for then it waits on us; a crowd whose
// handshakes we are slow to run must not push its own members out before any of them is done.
bool ConnectionGate::evictOldest(const QList<QPointer<HttpConnection>>& waiting)
{
    const qsizetype looked = qMin<qsizetype>(waiting.size(), ServerLimits::EVICTION_CANDIDATES);
    for (qsizetype i = 0; i < looked; ++i) {
        HttpConnection* candidate = waiting.at(i).data();
        if (!candidate)
            continue;
        if (candidate->ageMs() < m_options.evictAfterMs)
            return false;
        if (candidate->peerSpoke()
            && (candidate->ageMs() < ServerLimits::SPOKEN_EVICTION_FACTOR * m_options.evictAfterMs
                || SocketBacklog::unreadBytes(candidate->socket()) > 0))
            continue;
        dropWaiting(candidate);
        candidate->abort();
        return true;
    }
    return false;
}
