// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/replycap.h"

#include <QNetworkReply>

namespace {
constexpr char CUT_PROPERTY[] = "glimdeckReplyCut";
}

void ReplyCap::limit(QNetworkReply* reply, qint64 maxBytes, const std::function<void()>& onCut)
{
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, maxBytes, onCut](qint64 received, qint64 total) {
                         if (wasCut(reply) || (received <= maxBytes && total <= maxBytes))
                             return;
                         reply->setProperty(CUT_PROPERTY, true);
                         if (onCut)
                             onCut();
                         reply->abort();
                     });
}

bool ReplyCap::wasCut(const QNetworkReply* reply)
{
    return reply->property(CUT_PROPERTY).toBool();
}
