#include "peerlimits.h"

#include <QDebug>

PeerLimits::PeerLimits(int connectionsPerAddress, int uploadsPerMinute, QObject* parent)
    : QObject(parent)
    , m_connectionsPerAddress(connectionsPerAddress)
    , m_uploadsPerMinute(uploadsPerMinute)
{
    m_clock.start();
    connect(&m_pruneTimer, &QTimer::timeout, this, &PeerLimits::onPruneTimeout);
    m_pruneTimer.start(MINUTE_MS);
}

PeerLimits::Peer& PeerLimits::peer(const QHostAddress& address)
{
    if (m_peers.size() >= MAX_TRACKED_ADDRESSES && !m_peers.contains(address))
        onPruneTimeout();
    Peer& entry = m_peers[address];
    entry.seenAt = m_clock.elapsed();
    return entry;
}

QObject* PeerLimits::lifeOf(QObject* owner)
{
    return new QObject(owner);
}

bool PeerLimits::admit(const QHostAddress& address, QObject* owner)
{
    Peer& entry = peer(address);
    if (entry.connections >= m_connectionsPerAddress) {
        logOffence(address, QStringLiteral("trop de connexions"));
        return false;
    }
    ++entry.connections;
    connect(lifeOf(owner), &QObject::destroyed, this, [this, address] {
        auto it = m_peers.find(address);
        if (it != m_peers.end())
            --it->connections;
    });
    return true;
}

bool PeerLimits::allowUpload(const QHostAddress& address)
{
    Peer& entry = peer(address);
    const qint64 now = m_clock.elapsed();
    if (entry.uploadTokens < 0)
        entry.uploadTokens = m_uploadsPerMinute;
    entry.uploadTokens = qMin<double>(
        m_uploadsPerMinute, entry.uploadTokens + double(now - entry.refilledAt) * m_uploadsPerMinute / MINUTE_MS);
    entry.refilledAt = now;
    if (entry.uploadTokens < 1) {
        logOffence(address, QStringLiteral("trop d'envois"));
        return false;
    }
    entry.uploadTokens -= 1;
    return true;
}

void PeerLimits::logOffence(const QHostAddress& address, const QString& what)
{
    Peer& entry = peer(address);
    const qint64 now = m_clock.elapsed();
    if (now - entry.loggedAt < MINUTE_MS)
        return;
    entry.loggedAt = now;
    qWarning().noquote() << "Limite atteinte pour" << address.toString() << ":" << what
                         << "(refus suivants tus pendant une minute)";
}

void PeerLimits::onPruneTimeout()
{
    const qint64 now = m_clock.elapsed();
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        // After a quiet minute an address's allowance is full again and its log line due again.
        if (it->connections == 0 && now - it->seenAt >= MINUTE_MS)
            it = m_peers.erase(it);
        else
            ++it;
    }
}
