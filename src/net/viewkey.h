// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QUrl>

// The key that lets this build follow the server's rooms and read its count, embedded at build
// time. It only ever travels in request headers: nothing logs it.
class ViewKey
{
public:
    // Empty when the build names none.
    static QByteArray embedded();
    // A request for url that carries the key as "Authorization: Bearer KEY", when there is one.
    static QNetworkRequest request(const QUrl& url);
};
