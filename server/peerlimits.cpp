// SPDX-License-Identifier: GPL-3.0-or-later
#include "peerlimits.h"
#include "serverlimits.h"

#include <QDebug>

PeerLimits::PeerLimits(int connectionsPerAddress, int uploadsPerMinute, QObject* parent)
    : QObject(parent)
    , m_connectionsPerAddress(connectionsPerAddress)
    , m_uploadsPerMinute(uploadsPerMinute)
{
    m_clock.start();
}

QHostAddress PeerLimits::keyOf(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes);
}

QString PeerLimits::nameOf(const QHostAddress& key)
{
    return key.protocol() == QAbstractSocket::IPv6Protocol ? key.toString() + QStringLiteral("/64") : key.toString();
}

PeerLimits::Peer& PeerLimits::peer(const QHostAddress& key)
{
    auto it = m_peers.find(key);
    if (it == m_peers.end()) {
        makeRoom();
        m_recent.push_front(key);
        it = m_peers.insert(key, Peer());
        it->recent = m_recent.begin();
    } else {
        m_recent.splice(m_recent.begin(), m_recent, it->recent);
    }
    return *it;
}

// Forgets the least recently seen address that holds no connection. Those that hold one move to
// the front, so each is passed over at most once per round of the table.
void PeerLimits::makeRoom()
{
    for (qsizetype turns = m_peers.size(); m_peers.size() >= ServerLimits::MAX_TRACKED_ADDRESSES && turns > 0;
         --turns) {
        const QHostAddress oldest = m_recent.back();
        const auto it = m_peers.find(oldest);
        if (it->connections > 0) {
            m_recent.splice(m_recent.begin(), m_recent, it->recent);
            continue;
        }
        m_recent.pop_back();
        m_peers.erase(it);
    }
}

QObject* PeerLimits::lifeOf(QObject* owner)
{
    return new QObject(owner);
}

bool PeerLimits::admit(const QHostAddress& address, QObject* owner)
{
    const QHostAddress key = keyOf(address);
    Peer& entry = peer(key);
    if (entry.connections >= m_connectionsPerAddress) {
        logOffence(address, QStringLiteral("trop de connexions"));
        return false;
    }
    ++entry.connections;
    connect(lifeOf(owner), &QObject::destroyed, this, [this, key] {
        auto it = m_peers.find(key);
        if (it != m_peers.end())
            --it->connections;
    });
    return true;
}

bool PeerLimits::allowUpload(const QHostAddress& address)
{
    Peer& entry = peer(keyOf(address));
    const qint64 now = m_clock.elapsed();
    if (entry.uploadTokens < 0)
        entry.uploadTokens = m_uploadsPerMinute;
    entry.uploadTokens = qMin<double>(
        m_uploadsPerMinute,
        entry.uploadTokens + double(now - entry.refilledAt) * m_uploadsPerMinute / ServerLimits::MINUTE_MS);
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
    const QHostAddress key = keyOf(address);
    Peer& entry = peer(key);
    const qint64 now = m_clock.elapsed();
    if (now - entry.loggedAt < ServerLimits::MINUTE_MS)
        return;
    entry.loggedAt = now;
    qint64 held = 0;
    if (!m_log.pass(what, &held))
        return;
    qWarning().noquote() << "Limite atteinte pour" << nameOf(key) << ":" << what
                         << "(refus suivants tus pendant une minute)" + LogThrottle::heldNote(held);
}
