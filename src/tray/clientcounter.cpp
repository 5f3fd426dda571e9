// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/clientcounter.h"

#include "net/replycap.h"
#include "net/viewkey.h"

#include <QAction>
#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

ClientCounter::ClientCounter(QAction* entry, const QString& usersUrl, QObject* parent)
    : QObject(parent)
    , m_clientCountAction(entry)
    , m_usersUrl(usersUrl)
{
    connect(&m_networkManager, &QNetworkAccessManager::finished, this, &ClientCounter::onClientCountReply);
}

void ClientCounter::refreshClientCount()
{
    m_clientCountAction->setText(tr("Clients connectés : …"));
    QNetworkReply* reply = m_networkManager.get(ViewKey::request(QUrl(m_usersUrl, QUrl::TolerantMode)));
    ReplyCap::limit(reply, MAX_REPLY_BYTES);
}

void ClientCounter::onClientCountReply(QNetworkReply* reply)
{
    if (!reply)
        return;
    const QUrl url = reply->request().url();
    if (reply->error() != QNetworkReply::NoError || ReplyCap::wasCut(reply)) {
        qWarning() << "Client count request failed:" << reply->errorString();
        m_clientCountAction->setText(tr("Clients connectés : ? (erreur)"));
        reply->deleteLater();
        return;
    }
    const QByteArray body = reply->readAll();
    reply->deleteLater();

    bool isCount = false;
    const int count = QString::fromUtf8(body).trimmed().toInt(&isCount, 10);
    if (isCount) {
        m_clientCountAction->setText(tr("Clients connectés : %1").arg(count));
        return;
    }
    m_clientCountAction->setText(tr("Clients connectés : ?"));
    qWarning() << "Could not parse client count response from" << url.toString() << "data:" << QString::fromUtf8(body);
}
