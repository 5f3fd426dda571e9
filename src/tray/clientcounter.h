// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

class QAction;
class QNetworkReply;

// The connected-clients entry of the tray menu: each refresh asks the server for the count, and
// the entry shows the outcome of the reply handled last. Nothing is kept between requests.
class ClientCounter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MAX_REPLY_BYTES = 4096; // a count is a few digits

    // entry: the menu entry whose text shows the count; it outlives the counter.
    ClientCounter(QAction* entry, const QString& usersUrl, QObject* parent);

public slots:
    void refreshClientCount();

private slots:
    void onClientCountReply(QNetworkReply* reply);

private:
    QAction* m_clientCountAction;
    // Sends nothing else, so every reply it reports is a count.
    QNetworkAccessManager m_networkManager;
    QString m_usersUrl;
};
