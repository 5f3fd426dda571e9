// SPDX-License-Identifier: GPL-3.0-or-later
#include "glimdeck.h"

#include "core/pause.h"
#include "core/photohold.h"
#include "core/recentphotos.h"
#include "core/roommutes.h"
#include "core/screenchoice.h"
#include "core/session.h"
#include "core/speechengines.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "platform/networkwatcher.h"
#include "platform/sleepwatcher.h"
#include "process/largebuffers.h"
#include "settings/pausefile.h"
#include "settings/settings.h"
#include "tray/traymanager.h"

#include <QDebug>
#include <QMetaType>
#include <QThread>
#include <QTimer>

GlimDeck::GlimDeck(Clock now)
    : QObject(nullptr)
    , m_overlayPool(&m_overlayStack)
    , m_now(std::move(now))
{
    m_decoders.setMaxThreadCount(qMax(1, QThread::idealThreadCount() - 1));
    m_webSocketClient = new WebSocketClient(QUrl(WS_BASE_URL, QUrl::TolerantMode), this);
    m_trayManager = new TrayManager(m_isTTSEnabled, this);
    m_speechEngines = new SpeechEngines(m_maxActiveSessions, QString(), this);
    m_recentPhotos = new RecentPhotos(this);
    m_pause = new Pause(PauseFile::path(), m_now, this);
    m_roomMutes = new RoomMutes(PauseFile::path(), m_now, this);
    m_photoHold = new PhotoHold(m_pause, m_now, this);
    m_screenChoice = new ScreenChoice(ScreenChoice::path(), this);
    m_trayManager->addPhotoMenus(m_recentPhotos, m_pause);
    m_trayManager->addScreenMenu(m_screenChoice);

    connect(m_webSocketClient, &WebSocketClient::imageReceived, this, &GlimDeck::handleGlimDeck, Qt::QueuedConnection);
    connect(m_webSocketClient, &WebSocketClient::missedImagesReceived, this, &GlimDeck::onMissedImagesReceived);
    connect(m_webSocketClient, &WebSocketClient::connected, this, &GlimDeck::onServerConnected, Qt::QueuedConnection);
    connect(m_webSocketClient, &WebSocketClient::disconnected, this, &GlimDeck::onServerDisconnected,
            Qt::QueuedConnection);
    connect(m_trayManager, &TrayManager::ttsStatusChanged, this, &GlimDeck::setIsTTSEnabled);
    connect(m_trayManager, &TrayManager::displayWindow, this, &GlimDeck::displaySettings);
    connect(m_trayManager, &TrayManager::recentPhotoChosen, this, &GlimDeck::onRecentPhotoChosen);
    connect(m_photoHold, &PhotoHold::released, this, &GlimDeck::onReleased);

    // After a network change or a sleep the connection is checked at once, not at the next
    // ping or reconnection delay.
    connect(new NetworkWatcher(this), &NetworkWatcher::networkBack, m_webSocketClient, &WebSocketClient::onNetworkBack);
    connect(new SleepWatcher(this), &SleepWatcher::resumed, m_webSocketClient, &WebSocketClient::onResumed);
}

GlimDeck::~GlimDeck() = default;

void GlimDeck::handleGlimDeck(const QString& url, const QString& message, const QString& room)
{
    const QUrl imageUrl(url, QUrl::TolerantMode);
    if (!imageUrl.isValid()) {
        qWarning() << "GlimDeck::handleGlimDeck url invalide:" << url;
        return;
    }
    Photo photo{imageUrl, message, room, m_now(), 0};
    if (keptIfMuted(photo))
        return;
    photo.recentId = m_recentPhotos->add(photo);
    showOrHold(photo);
}

// A catch-up must not become a slide show: every photo goes to the recent ones, unseen, and only
// the newest is shown, if it is still fresh.
void GlimDeck::onMissedImagesReceived(const QList<Photo>& photos)
{
    qDebug() << "Photos manquées reçues :" << photos.size();
    Photo newest;
    for (Photo photo : photos) {
        if (!photo.url.isValid())
            continue;
        if (!photo.arrived.isValid())
            photo.arrived = m_now();
        if (keptIfMuted(photo))
            continue;
        photo.recentId = m_recentPhotos->add(photo);
        newest = photo;
    }
    if (newest.recentId == 0 || newest.arrived < m_now().addSecs(-MAX_MISSED_SHOWN_AGE_S))
        return;
    showOrHold(newest);
}

// Kept among the recent photos, as seen: a muted room asks for no attention.
bool GlimDeck::keptIfMuted(const Photo& photo)
{
    if (photo.room.isEmpty() || !m_roomMutes->isMuted(photo.room))
        return false;
    qDebug() << "Photo d'un groupe muet :" << photo.room << photo.url;
    m_recentPhotos->add(photo, true);
    return true;
}

void GlimDeck::showOrHold(const Photo& photo)
{
    if (!m_photoHold->hold(photo))
        enqueue(photo);
}

// Waiting photos keep their order: while any waits, every place is taken.
void GlimDeck::enqueue(const Photo& photo)
{
    m_pendingPhotos.append(photo);
    tryStartNext();
}

void GlimDeck::startSession(const Photo& photo)
{
    Session* session = createSessionForUrl(photo.url, photo.message);
    m_sessionsNotShown.insert(session, photo.recentId);
    connect(session, &Session::shown, this,
            [this, session] { m_recentPhotos->markSeen(m_sessionsNotShown.take(session)); });
    m_activeSessions.append(session);
    session->start();
}

void GlimDeck::onSessionFinished(Session* session)
{
    m_activeSessions.removeAll(session);
    if (m_sessionsNotShown.contains(session))
        onNeverShown(m_sessionsNotShown.take(session));
    tryStartNext();
    // Later, so that the finished sessions and their overlays are deleted first.
    if (m_activeSessions.isEmpty())
        QTimer::singleShot(IDLE_RELEASE_DELAY_MS, this, &releaseFreedMemoryToSystem);
}

void GlimDeck::tryStartNext()
{
    while (!m_pendingPhotos.isEmpty() && m_activeSessions.size() < m_maxActiveSessions)
        startSession(m_pendingPhotos.takeFirst());
}

Session* GlimDeck::createSessionForUrl(const QUrl& url, const QString& message)
{
    qRegisterMetaType<Session*>();
    auto* session = new Session(url, message, m_displayDurationMs, m_isTTSEnabled ? m_speechEngines : nullptr,
                                &m_network, &m_decoders, this);
    session->setScreenChoice(m_screenChoice);
    session->setOverlayPool(&m_overlayPool);
    connect(session, &Session::finished, this, &GlimDeck::onSessionFinished, Qt::QueuedConnection);
    return session;
}

void GlimDeck::setIsTTSEnabled(bool newIsTTSEnabled)
{
    m_isTTSEnabled = newIsTTSEnabled;
    // Ready before the next photo, so that speaking it costs the photo nothing.
    if (m_isTTSEnabled)
        m_speechEngines->prepare();
}

void GlimDeck::displaySettings()
{
    if (m_settingsWindow.isNull()) {
        m_settingsWindow = new Settings(m_webSocketClient, m_roomMutes, nullptr);
        m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_settingsWindow->show();
        m_settingsWindow->activateWindow();
        qDebug() << "Show settings";
        return;
    }
    m_settingsWindow->deleteLater();
    qDebug() << "Hide settings";
}

void GlimDeck::onServerConnected()
{
    m_trayManager->setConnected(true);
}

void GlimDeck::onServerDisconnected()
{
    m_trayManager->setConnected(false);
}

// The picture could not be had: most often the server has deleted it since.
void GlimDeck::onNeverShown(int recentId)
{
    const std::optional<Photo> photo = m_recentPhotos->find(recentId);
    if (!photo)
        return;
    qWarning() << "Photo récente introuvable, marquée expirée :" << photo->url;
    m_recentPhotos->markExpired(recentId);
}

void GlimDeck::onReleased(const QList<Photo>& photos)
{
    for (const Photo& photo : photos)
        enqueue(photo);
}

// Shown again at the user's request, even while something would hold it.
void GlimDeck::onRecentPhotoChosen(int recentId)
{
    const std::optional<Photo> photo = m_recentPhotos->find(recentId);
    if (photo)
        enqueue(*photo);
}
