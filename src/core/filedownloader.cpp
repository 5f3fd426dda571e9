#include "core/filedownloader.h"

#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>

FileDownloader::FileDownloader(QUrl url, QObject* parent)
    : FileDownloader(std::move(url), TRANSFER_TIMEOUT_MS, MAX_BODY_BYTES, parent)
{
}

FileDownloader::FileDownloader(QUrl url, int transferTimeoutMs, qint64 maxBodyBytes, QObject* parent)
    : QObject(parent)
    , m_maxBodyBytes(maxBodyBytes)
{
    connect(&m_networkManager, SIGNAL(finished(QNetworkReply*)), this, SLOT(fileDownloaded(QNetworkReply*)));

    // Without a time limit a server that never answers would hold the photo's place for good.
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    watchSize(m_networkManager.get(request));
}

FileDownloader::~FileDownloader() = default;

void FileDownloader::watchSize(QNetworkReply* reply)
{
    // A body that never ends would otherwise grow in memory until the process dies.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (m_abortedForSize || (received <= m_maxBodyBytes && total <= m_maxBodyBytes))
            return;
        qWarning() << "Téléchargement interrompu, image trop volumineuse :" << reply->url().toString();
        m_abortedForSize = true;
        reply->abort();
    });
}

QByteArray FileDownloader::downloadedData() const
{
    return m_downloadedData;
}

void FileDownloader::fileDownloaded(QNetworkReply* pReply)
{
    const bool cutShort = m_abortedForSize || pReply->error() == QNetworkReply::OperationCanceledError
                          || pReply->error() == QNetworkReply::TimeoutError;
    // Part of a picture is no picture: a transfer ended by its time or size limit hands over nothing.
    m_downloadedData = cutShort ? QByteArray() : pReply->readAll();
    pReply->deleteLater();
    emit downloaded();
}
