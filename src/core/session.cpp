// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/session.h"

#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/overlaypool.h"
#include "core/picturedecoder.h"
#include "core/screenchoice.h"
#include "core/speechengine.h"
#include "core/speechengines.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

Session::Session(const QUrl& url, const QString& message, int displayDurationMs, SpeechEngines* speech,
                 QNetworkAccessManager* network, QThreadPool* decoders, QObject* parent)
    : QObject(parent)
    , m_imageUrl(url)
    , m_message(message)
    , m_network(network)
    , m_decoders(decoders)
    , m_displayDurationMs(displayDurationMs)
    , m_speechEngines(speech)
{
    if (speech)
        speech->borrow(this, [this](SpeechEngine* engine) { onSpeechLent(engine); });
}

// The engines may already be gone when the program quits: their owner is deleted first.
Session::~Session()
{
    m_decoding.cancel(); // a picture still waiting for a decoder is not decoded for nobody
    if (!m_speech || !m_speechEngines)
        return;
    if (m_spoken)
        m_speech->stop();
    m_speechEngines->giveBack(m_speech);
    m_speech = nullptr;
}

void Session::start()
{
    if (!m_imageUrl.isValid()) {
        qWarning() << "ImageSession::start url invalide:" << m_imageUrl;
        end();
        return;
    }
    m_downloader = new FileDownloader(m_imageUrl, m_network, this);
    connect(m_downloader, &FileDownloader::downloaded, this, &Session::onDownloaded, Qt::QueuedConnection);
    connect(&m_decoding, &QFutureWatcher<QImage>::finished, this, &Session::onDecoded);
}

void Session::onDownloaded()
{
    const QByteArray data = m_downloader->downloadedData();
    if (data.isEmpty()) {
        qWarning() << "ImageSession::onDownloaded data vide pour" << m_imageUrl;
        end();
        return;
    }
    // The screens are chosen once it is decoded: large enough for the largest.
    QSize largest = QGuiApplication::primaryScreen()->size();
    for (const QScreen* screen : QGuiApplication::screens())
        largest = largest.expandedTo(screen->size());
    m_decoding.setFuture(PictureDecoder::start(m_decoders, data, largest));
}

void Session::onDecoded()
{
    QImage picture = m_decoding.future().takeResult();
    if (picture.isNull()) {
        qWarning() << "ImageSession::onDownloaded impossible de charger pixmap";
        end();
        return;
    }
    m_pixmap = new QPixmap(QPixmap::fromImage(std::move(picture)));
    showOverlays();
    QTimer::singleShot(m_displayDurationMs, this, &Session::onTimeout);
    emit shown();
    speak();
}

void Session::setScreenChoice(const ScreenChoice* screens)
{
    m_screenChoice = screens;
}

void Session::setOverlayPool(OverlayPool* pool)
{
    m_overlayPool = pool;
}

void Session::showOverlays()
{
    const QList<QScreen*> screens =
        m_screenChoice ? m_screenChoice->screens() : QList<QScreen*>{QGuiApplication::primaryScreen()};
    for (QScreen* screen : screens) {
        m_overlays.append(m_overlayPool ? m_overlayPool->show(m_pixmap, screen, this)
                                        : new Overlay(m_pixmap, nullptr, screen));
    }
}

void Session::onSpeechLent(SpeechEngine* engine)
{
    m_speech = engine;
    speak();
}

// As the photo is shown, or later while it is still shown if the engine came late.
void Session::speak()
{
    if (!m_speech || m_overlays.isEmpty() || m_spoken)
        return;
    m_speech->say(m_message);
    m_spoken = true;
}

void Session::onTimeout()
{
    for (Overlay* overlay : std::as_const(m_overlays)) {
        if (m_overlayPool) {
            m_overlayPool->putAway(overlay);
            continue;
        }
        overlay->close();
        overlay->deleteLater();
    }
    m_overlays.clear();
    if (m_pixmap) {
        delete m_pixmap;
        m_pixmap = nullptr;
    }
    if (m_downloader) {
        m_downloader->deleteLater();
        m_downloader = nullptr;
    }
    end();
}

void Session::end()
{
    emit finished(this);
    deleteLater();
}
