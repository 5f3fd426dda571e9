#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>

class Session;
class Settings;
class SpeechEngines;
class TrayManager;
class WebSocketClient;

// Owns the long-lived components and wires them together; has no window of its own.
class GlimDeck : public QObject
{
    Q_OBJECT

public:
    GlimDeck();
    ~GlimDeck() override;

private slots:
    void handleGlimDeck(const QString& url, const QString& message);
    void onSessionFinished(Session* session);
    void tryStartNext();
    Session* createSessionForUrl(const QUrl& url, const QString& message);
    void setIsTTSEnabled(bool newIsTTSEnabled);
    void displaySettings();

private:
    static constexpr int IDLE_RELEASE_DELAY_MS = 1000;

    void onServerConnected();
    void onServerDisconnected();

    // Shared by every photo: downloads keep their connection open for the next, and decoding
    // leaves a processor to the event loop.
    QNetworkAccessManager m_network;
    QThreadPool m_decoders;
    WebSocketClient* m_webSocketClient = nullptr;
    TrayManager* m_trayManager = nullptr;
    SpeechEngines* m_speechEngines = nullptr;
    QList<Session*> m_activeSessions;
    QList<QPair<QUrl, QString>> m_pendingPhotos;
    QPointer<Settings> m_settingsWindow;
    int m_maxActiveSessions = 3;
    int m_displayDurationMs = 2500;
    bool m_isTTSEnabled = false;
};
