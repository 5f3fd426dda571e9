// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/overlaypool.h"
#include "core/overlaystack.h"
#include "core/photo.h"

#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>

class Pause;
class PhotoHold;
class RecentPhotos;
class RoomMutes;
class ScreenChoice;
class Session;
class Settings;
class SpeechEngines;
class TrayManager;
class WebSocketClient;

// Owns the long-lived components and wires them together; has no window of its own. The process's
// set-up (trust, proxy, log) is main's, done before.
class GlimDeck : public QObject
{
    Q_OBJECT

public:
    // now: the time of day, which tests may set.
    explicit GlimDeck(Clock now = &QDateTime::currentDateTime);
    ~GlimDeck() override;

private slots:
    void handleGlimDeck(const QString& url, const QString& message, const QString& room = QString());
    void onSessionFinished(Session* session);
    void tryStartNext();
    Session* createSessionForUrl(const QUrl& url, const QString& message);
    void setIsTTSEnabled(bool newIsTTSEnabled);
    void displaySettings();

private:
    static constexpr int IDLE_RELEASE_DELAY_MS = 1000;
    // The newest missed photo is shown when younger than this; the rest only go to the recent photos.
    static constexpr qint64 MAX_MISSED_SHOWN_AGE_S = 10 * 60;

    void onServerConnected();
    void onServerDisconnected();
    bool keptIfMuted(const Photo& photo);
    void showOrHold(const Photo& photo);
    void enqueue(const Photo& photo);
    void startSession(const Photo& photo);
    void onReleased(const QList<Photo>& photos);
    void onMissedImagesReceived(const QList<Photo>& photos);
    void onRecentPhotoChosen(int recentId);
    void onNeverShown(int recentId);

    // Shared by every photo: downloads keep their connection open for the next, and decoding
    // leaves a processor to the event loop.
    QNetworkAccessManager m_network;
    QThreadPool m_decoders;
    OverlayStack m_overlayStack; // before the pool, which puts windows on it
    OverlayPool m_overlayPool;
    WebSocketClient* m_webSocketClient = nullptr;
    TrayManager* m_trayManager = nullptr;
    SpeechEngines* m_speechEngines = nullptr;
    QList<Session*> m_activeSessions;
    QList<Photo> m_pendingPhotos;
    QHash<Session*, int> m_sessionsNotShown; // their photos' entries among the recent photos
    Clock m_now;
    RecentPhotos* m_recentPhotos = nullptr;
    Pause* m_pause = nullptr;
    RoomMutes* m_roomMutes = nullptr;
    ScreenChoice* m_screenChoice = nullptr;
    PhotoHold* m_photoHold = nullptr;
    QPointer<Settings> m_settingsWindow;
    int m_maxActiveSessions = 3;
    int m_displayDurationMs = 2500;
    bool m_isTTSEnabled = false;
};
