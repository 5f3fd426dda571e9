// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the bytes behind one address with a single GET and says when the transfer has ended,
// whatever its outcome. The access manager is shared, so that a photo after the first goes out
// on the connection already open; the time and size bounds are this transfer's own.
class FileDownloader : public QObject
{
    Q_OBJECT

public:
    static constexpr int TRANSFER_TIMEOUT_MS = 30000;
    static constexpr qint64 MAX_BODY_BYTES = 64 * 1024 * 1024;
    static constexpr qint64 READ_PIECE_BYTES = 512 * 1024;

    FileDownloader(QUrl url, QNetworkAccessManager* network, QObject* parent);
    // Test seam: other bounds than the program's.
    FileDownloader(QUrl url, QNetworkAccessManager* network, int transferTimeoutMs, qint64 maxBodyBytes,
                   QObject* parent);
    ~FileDownloader() override;

    QByteArray downloadedData() const;

signals:
    void downloaded();

private slots:
    void fileDownloaded(QNetworkReply* pReply);

private:
    void watchSize(QNetworkReply* reply);
    void onReadyRead();

    QPointer<QNetworkReply> m_reply;
    QByteArray m_bodyBytes; // the body so far
    QByteArray m_downloadedData;
    qint64 m_maxBodyBytes;
};
