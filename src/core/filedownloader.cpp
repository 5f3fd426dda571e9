// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"

#include "net/replycap.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

FileDownloader::FileDownloader(QUrl url, QNetworkAccessManager* network, QObject* parent)
    : FileDownloader(std::move(url), network, TRANSFER_TIMEOUT_MS, MAX_BODY_BYTES, parent)
{
}

FileDownloader::FileDownloader(QUrl url, QNetworkAccessManager* network, int transferTimeoutMs, qint64 maxBodyBytes,
                               QObject* parent)
    : QObject(parent)
    , m_maxBodyBytes(maxBodyBytes)
{
    // Without a time limit a server that never answers would hold the photo's place for good.
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    m_reply = network->get(request);
    // The transfer's thread hands bodies over in pieces this size at most: a whole 24 MiB picture
    // taken in one turn held the event loop for over 50 ms.
    m_reply->setReadBufferSize(READ_PIECE_BYTES);
    // The manager's own finished() tells of every photo's reply; this one listens to its own.
    connect(m_reply, &QNetworkReply::finished, this, [this] { fileDownloaded(m_reply); });
    connect(m_reply, &QNetworkReply::readyRead, this, &FileDownloader::onReadyRead);
    watchSize(m_reply);
}

// A transfer still running belongs to the shared manager: it is ended here, not left to run.
FileDownloader::~FileDownloader()
{
    if (!m_reply)
        return;
    disconnect(m_reply, nullptr, this, nullptr);
    m_reply->abort();
    m_reply->deleteLater();
}

void FileDownloader::watchSize(QNetworkReply* reply)
{
    ReplyCap::limit(reply, m_maxBodyBytes, [this, reply] {
        qWarning() << "Téléchargement interrompu, image trop volumineuse :" << reply->url().toString();
    });
}

// Taken as it comes, into room made once for the announced length: gathering a 24 MiB body in
// one piece at the end held the event loop for some 60 ms.
void FileDownloader::onReadyRead()
{
    if (ReplyCap::wasCut(m_reply))
        return;
    if (m_bodyBytes.isEmpty()) {
        const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > 0 && announced <= m_maxBodyBytes)
            m_bodyBytes.reserve(announced);
    }
    m_bodyBytes.append(m_reply->readAll());
}

QByteArray FileDownloader::downloadedData() const
{
    return m_downloadedData;
}

void FileDownloader::fileDownloaded(QNetworkReply* pReply)
{
    const bool cutShort = ReplyCap::wasCut(pReply) || pReply->error() == QNetworkReply::OperationCanceledError
                          || pReply->error() == QNetworkReply::TimeoutError;
    // Part of a picture is no picture: a transfer ended by its time or size limit hands over nothing.
    if (!cutShort)
        onReadyRead();
    m_downloadedData = cutShort ? QByteArray() : std::move(m_bodyBytes);
    m_bodyBytes = QByteArray();
    m_reply = nullptr;
    pReply->deleteLater();
    emit downloaded();
}
