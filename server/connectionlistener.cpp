// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionlistener.h"

#include "peerlimits.h"
#include "serverlimits.h"

#include <QSslSocket>

ConnectionListener::ConnectionListener(QObject* parent)
    : QTcpServer(parent)
{
}

void ConnectionListener::setWaitBounds(int total, int perAddress, int waitMs)
{
    m_maxWaiting = total;
    m_maxWaitingPerAddress = perAddress;
    m_waitMs = waitMs;
}

void ConnectionListener::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Qt reads a socket from the moment it is accepted, while it waits its turn too: the bound
    // within which its requests are read is set here, once, for its whole life.
    socket->setReadBufferSize(ServerLimits::HTTP_READ_BUFFER_BYTES);
    const QHostAddress key = PeerLimits::keyOf(socket->peerAddress());
    QQueue<Waiting>& queue = m_waiting[key];
    if (m_maxWaitingPerAddress > 0 && queue.size() >= m_maxWaitingPerAddress) {
        socket->abort();
        delete socket;
        return;
    }
    if (queue.isEmpty())
        m_turns.enqueue(key);
    queue.enqueue({socket, QDeadlineTimer(m_waitMs)});
    if (++m_count >= m_maxWaiting)
        pauseAccepting();
}

// Null when every connection still waiting has gone or waited too long.
QTcpSocket* ConnectionListener::nextPendingConnection()
{
    while (m_count > 0) {
        const Waiting next = takeNextTurn();
        if (next.socket->state() == QAbstractSocket::ConnectedState && !next.deadline.hasExpired())
            return next.socket;
        next.socket->abort();
        delete next.socket;
    }
    return nullptr;
}

ConnectionListener::Waiting ConnectionListener::takeNextTurn()
{
    const QHostAddress key = m_turns.dequeue();
    QQueue<Waiting>& queue = m_waiting[key];
    const Waiting next = queue.dequeue();
    if (queue.isEmpty())
        m_waiting.remove(key);
    else
        m_turns.enqueue(key);
    if (m_count-- == m_maxWaiting && isListening())
        resumeAccepting();
    return next;
}
