// SPDX-License-Identifier: GPL-3.0-or-later
#include "delayrelay.h"

#include <QQueue>
#include <QTcpSocket>
#include <QTimer>

namespace {

// One direction of one connection: what is read from `from` is written to `to` once its time
// has come, in order; the end of `from` reaches `to` the same way.
class DelayedPipe : public QObject
{
public:
    DelayedPipe(QTcpSocket* from, QTcpSocket* to, const QElapsedTimer& clock, qint64 notBeforeMs, int delayMs)
        : QObject(from)
        , m_to(to)
        , m_clock(clock)
        , m_notBeforeMs(notBeforeMs)
        , m_delayMs(delayMs)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &DelayedPipe::deliverDue);
        connect(from, &QTcpSocket::readyRead, this, [this, from] { queue(from->readAll(), false); });
        connect(from, &QTcpSocket::disconnected, this, [this] { queue(QByteArray(), true); });
    }

private:
    struct Chunk
    {
        qint64 dueMs;
        QByteArray bytes;
        bool end;
    };

    void queue(const QByteArray& bytes, bool end)
    {
        m_chunks.enqueue({qMax(m_clock.elapsed(), m_notBeforeMs) + m_delayMs, bytes, end});
        if (!m_timer.isActive())
            deliverDue();
    }

    void deliverDue()
    {
        while (!m_chunks.isEmpty() && m_chunks.head().dueMs <= m_clock.elapsed()) {
            const Chunk chunk = m_chunks.dequeue();
            if (chunk.end)
                m_to->disconnectFromHost();
            else
                m_to->write(chunk.bytes);
        }
        if (!m_chunks.isEmpty())
            m_timer.start(int(m_chunks.head().dueMs - m_clock.elapsed()));
    }

    QTcpSocket* m_to;
    const QElapsedTimer& m_clock;
    qint64 m_notBeforeMs;
    int m_delayMs;
    QQueue<Chunk> m_chunks;
    QTimer m_timer;
};

} // namespace

DelayRelay::DelayRelay(quint16 targetPort, int oneWayMs, QObject* parent)
    : QObject(parent)
    , m_targetPort(targetPort)
    , m_oneWayMs(oneWayMs)
{
    m_clock.start();
    connect(&m_server, &QTcpServer::newConnection, this, &DelayRelay::onNewConnection);
}

// The client's first bytes leave when its handshake would have ended, one round trip after it
// began; the target's side is opened at once, as loopback costs nothing.
void DelayRelay::onNewConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        auto* target = new QTcpSocket(client);
        const qint64 handshakeEndMs = m_clock.elapsed() + 2 * m_oneWayMs;
        new DelayedPipe(client, target, m_clock, handshakeEndMs, m_oneWayMs);
        new DelayedPipe(target, client, m_clock, 0, m_oneWayMs);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        target->connectToHost(QHostAddress::LocalHost, m_targetPort);
    }
}
