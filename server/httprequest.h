// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The head of one HTTP/1.1 request; header names are kept in lower case.
struct HttpRequest
{

    QByteArray method;
    QByteArray version;
    QString path;
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;

    // Parses the bytes before the blank line; false when they are not a request line and headers.
    bool parseHead(const QByteArray& head);
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    // -1 when absent, -2 when not a plain decimal number.
    qint64 contentLength() const;
    bool isWebSocketUpgrade() const;
};
