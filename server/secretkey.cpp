// SPDX-License-Identifier: GPL-3.0-or-later
#include "secretkey.h"

#include <QCryptographicHash>

namespace {

QByteArray digestOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

SecretKey::SecretKey(const QByteArray& key)
    : m_digest(key.isEmpty() ? QByteArray() : digestOf(key))
{
}

bool SecretKey::matches(const QByteArray& given) const
{
    if (!isSet())
        return true;
    const QByteArray digest = digestOf(given);
    char difference = 0;
    for (qsizetype i = 0; i < m_digest.size(); ++i)
        difference |= char(digest.at(i) ^ m_digest.at(i));
    return difference == 0;
}

QByteArray SecretKey::bearerToken(const QByteArray& authorization)
{
    const QByteArray scheme = "bearer ";
    if (!authorization.left(scheme.size()).toLower().startsWith(scheme))
        return QByteArray();
    return authorization.mid(scheme.size()).trimmed();
}
