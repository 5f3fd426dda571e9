// SPDX-License-Identifier: GPL-3.0-or-later
#include "httprequest.h"

#include <QList>
#include <QUrl>

bool HttpRequest::parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    method = requestLine.at(0);
    version = requestLine.at(2);
    // The path stays percent-encoded: routes compare it as sent, so "%2e%2e" is never a "..".
    const QByteArray target = requestLine.at(1);
    if (!target.startsWith('/'))
        return false;
    path = QString::fromLatin1(target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')));
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        const int colon = int(line.indexOf(':'));
        if (colon <= 0)
            return false;
        headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return true;
}

qint64 HttpRequest::contentLength() const
{
    const QByteArray value = header("content-length");
    if (value.isEmpty())
        return -1;
    bool ok = false;
    const qint64 length = value.toLongLong(&ok);
    return ok && length >= 0 ? length : -2;
}

bool HttpRequest::isWebSocketUpgrade() const
{
    return header("upgrade").toLower() == "websocket";
}
