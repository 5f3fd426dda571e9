// SPDX-License-Identifier: GPL-3.0-or-later
#include "bodybudget.h"

#include "peerlimits.h"

BodyBudget::BodyBudget(qint64 totalBytes, qint64 perAddressBytes)
    : m_totalBytes(totalBytes)
    , m_perAddressBytes(perAddressBytes)
{
}

bool BodyBudget::reserve(const void* holder, const QHostAddress& address, qint64 bytes)
{
    const QHostAddress key = PeerLimits::keyOf(address);
    const qint64 byAddress = m_usedBy.value(key);
    if (m_used + bytes > m_totalBytes || byAddress + bytes > m_perAddressBytes)
        return false;
    m_used += bytes;
    m_usedBy.insert(key, byAddress + bytes);
    m_held.insert(holder, {key, bytes});
    return true;
}

void BodyBudget::release(const Reservation& reservation)
{
    if (reservation.bytes == 0)
        return;
    m_used -= reservation.bytes;
    const qint64 left = m_usedBy.value(reservation.key) - reservation.bytes;
    if (left > 0)
        m_usedBy.insert(reservation.key, left);
    else
        m_usedBy.remove(reservation.key);
}
