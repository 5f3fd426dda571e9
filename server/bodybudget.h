// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QHostAddress>

// The memory that upload bodies may take at once: in all, and for each address (counted as
// PeerLimits counts it), so that one address's slow uploads cannot keep everyone else out.
class BodyBudget
{
public:
    struct Reservation
    {
        QHostAddress key;
        qint64 bytes = 0;
    };

    BodyBudget(qint64 totalBytes, qint64 perAddressBytes);

    // Sets bytes aside for holder; false when they do not fit.
    bool reserve(const void* holder, const QHostAddress& address, qint64 bytes);
    // The holder's reservation, no longer tied to it: give it back with release.
    Reservation take(const void* holder) { return m_held.take(holder); }
    void release(const Reservation& reservation);

private:
    qint64 m_totalBytes;
    qint64 m_perAddressBytes;
    qint64 m_used = 0;
    QHash<QHostAddress, qint64> m_usedBy;
    QHash<const void*, Reservation> m_held;
};
