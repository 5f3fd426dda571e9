// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/viewkey.h"

QNetworkRequest ViewKey::request(const QUrl& url)
{
    QNetworkRequest request(url);
    if (const QByteArray key = embedded(); !key.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + key);
    return request;
}
