#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

// Per-address accounting: connections open at once, an upload rate, and one log line per
// offending address per minute however often it offends.
class PeerLimits : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MINUTE_MS = 60 * 1000;
    // Forgotten addresses beyond this many are dropped early, so the table itself stays bounded.
    static constexpr int MAX_TRACKED_ADDRESSES = 100000;

    PeerLimits(int connectionsPerAddress, int uploadsPerMinute, QObject* parent = nullptr);

    // An object destroyed with owner that signals it even when owner's own signals are blocked,
    // as the WebSocket blocks its socket's.
    static QObject* lifeOf(QObject* owner);
    // Counts owner against its address until owner is destroyed; false when the address is full.
    bool admit(const QHostAddress& address, QObject* owner);
    // Takes one upload from the address's allowance; false when it is spent for now.
    bool allowUpload(const QHostAddress& address);
    // Logs what at most once a minute for each address.
    void logOffence(const QHostAddress& address, const QString& what);

private:
    struct Peer
    {
        int connections = 0;
        double uploadTokens = -1;
        qint64 refilledAt = 0;
        qint64 loggedAt = -MINUTE_MS;
        qint64 seenAt = 0;
    };
    void onPruneTimeout();
    Peer& peer(const QHostAddress& address);

    int m_connectionsPerAddress;
    int m_uploadsPerMinute;
    QHash<QHostAddress, Peer> m_peers;
    QElapsedTimer m_clock;
    QTimer m_pruneTimer;
};
