#include "core/session.h"

#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/speechengine.h"
#include "core/speechengines.h"

#include <QDebug>
#include <QPixmap>
#include <QTimer>

Session::Session(const QUrl& url, const QString& message, int displayDurationMs, SpeechEngines* speech, QObject* parent)
    : QObject(parent)
    , m_imageUrl(url)
    , m_message(message)
    , m_displayDurationMs(displayDurationMs)
    , m_speechEngines(speech)
{
    if (speech)
        speech->borrow(this, [this](SpeechEngine* engine) { onSpeechLent(engine); });
}

// The engines may already be gone when the program quits: their owner is deleted first.
Session::~Session()
{
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
    m_downloader = new FileDownloader(m_imageUrl, this);
    connect(m_downloader, &FileDownloader::downloaded, this, &Session::onDownloaded, Qt::QueuedConnection);
}

void Session::onDownloaded()
{
    const QByteArray data = m_downloader->downloadedData();
    if (data.isEmpty()) {
        qWarning() << "ImageSession::onDownloaded data vide pour" << m_imageUrl;
        end();
        return;
    }
    // The image reader's allocation limit stays in force: a small file declaring a huge size
    // fails here instead of exhausting memory.
    m_pixmap = new QPixmap();
    if (!m_pixmap->loadFromData(data)) {
        qWarning() << "ImageSession::onDownloaded impossible de charger pixmap";
        delete m_pixmap;
        m_pixmap = nullptr;
        end();
        return;
    }
    m_overlay = new Overlay(m_pixmap, nullptr);
    QTimer::singleShot(m_displayDurationMs, this, &Session::onTimeout);
    emit shown();
    speak();
}

void Session::onSpeechLent(SpeechEngine* engine)
{
    m_speech = engine;
    speak();
}

// As the photo is shown, or later while it is still shown if the engine came late.
void Session::speak()
{
    if (!m_speech || !m_overlay || m_spoken)
        return;
    m_speech->say(m_message);
    m_spoken = true;
}

void Session::onTimeout()
{
    if (m_overlay) {
        m_overlay->close();
        m_overlay->deleteLater();
        m_overlay = nullptr;
    }
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
