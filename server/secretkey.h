// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// A key a request must present. Both sides are compared as digests of equal length, byte by
// byte to the end, so neither the time taken nor an early refusal tells anything of the key or
// of its length.
class SecretKey
{
public:
    SecretKey() = default;
    explicit SecretKey(const QByteArray& key);

    bool isSet() const { return !m_digest.isEmpty(); }
    bool matches(const QByteArray& given) const;
    // The token of an "Authorization: Bearer TOKEN" header; empty for any other scheme.
    static QByteArray bearerToken(const QByteArray& authorization);

private:
    QByteArray m_digest;
};
