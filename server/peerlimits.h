// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logthrottle.h"
#include "serverlimits.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>

#include <list>

// Per-address accounting: connections open at once, an upload rate, and one log line per
// offending address per minute however often it offends. An IPv6 address counts as its /64,
// which one subscriber usually holds whole. The table keeps the addresses seen last, up to a
// bound: the least recently seen one without a connection makes way for a newcomer.
class PeerLimits : public QObject
{
    Q_OBJECT

public:
    PeerLimits(int connectionsPerAddress, int uploadsPerMinute, QObject* parent = nullptr);

    // What an address is counted as: itself, or for IPv6 its /64.
    static QHostAddress keyOf(const QHostAddress& address);
    // An object destroyed with owner that signals it even when owner's own signals are blocked,
    // as the WebSocket blocks its socket's.
    static QObject* lifeOf(QObject* owner);
    // Counts owner against its address until owner is destroyed; false when the address is full.
    bool admit(const QHostAddress& address, QObject* owner);
    // Takes one upload from the address's allowance; false when it is spent for now.
    bool allowUpload(const QHostAddress& address);
    // Logs what at most once a minute for each address, and a few lines a minute in all.
    void logOffence(const QHostAddress& address, const QString& what);

private:
    struct Peer
    {
        int connections = 0;
        double uploadTokens = -1;
        qint64 refilledAt = 0;
        qint64 loggedAt = -ServerLimits::MINUTE_MS;
        std::list<QHostAddress>::iterator recent;
    };
    Peer& peer(const QHostAddress& key);
    void makeRoom();
    static QString nameOf(const QHostAddress& key);

    int m_connectionsPerAddress;
    int m_uploadsPerMinute;
    QHash<QHostAddress, Peer> m_peers;
    std::list<QHostAddress> m_recent; // most recently seen first
    QElapsedTimer m_clock;
    LogThrottle m_log;
};
