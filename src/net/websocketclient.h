// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/photo.h"
#include "settings/seenphotos.h"

#include <QAbstractSocket>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

class QJsonArray;

// The one connection to the server: opens on construction, pings to detect a silent server,
// and reopens itself with a growing delay after any loss.
class WebSocketClient : public QObject
{
    Q_OBJECT

public:
    WebSocketClient(const QUrl& url, QObject* parent);
    // Test seam: every timer runs its interval divided by timeDivisor; the log still shows
    // the real values. The program itself always uses the constructor above.
    WebSocketClient(const QUrl& url, int timeDivisor, QObject* parent);
    ~WebSocketClient() override;

    void sendRooms(const QJsonArray& rooms);

signals:
    void connected();
    void disconnected();
    // room is empty when the broadcast does not name it.
    void imageReceived(const QString& imageUrl, const QString& message, const QString& room);
    // The photos sent while the client was away, oldest first, each with the time the server
    // sent it (invalid when the server did not say); after each connection, when there were any.
    void missedImagesReceived(const QList<Photo>& photos);

private slots:
    void onConnected();
    void onTextMessageReceived(const QString& message);
    void onDisconnected();
    void attemptReconnect();
    void sendPing();
    void onPong(quint64 elapsedTime, const QByteArray& payload);
    void onPongTimeout();
    void onError(QAbstractSocket::SocketError error);

public slots:
    // The system reports the network reachable again, or a resume from sleep. A connection that
    // may have died unseen is pinged now; a client waiting or given up tries again at once, as
    // if freshly started.
    void onNetworkBack();
    void onResumed();

private:
    static constexpr int PING_INTERVAL_MS = 15000;
    static constexpr int PONG_TIMEOUT_MS = 3000;
    static constexpr int RECONNECT_BASE_DELAY_MS = 1000;
    static constexpr int RECONNECT_MAX_DELAY_MS = 30000;
    // A broadcast is a few hundred bytes; anything this large is refused before it is held whole.
    static constexpr qint64 MAX_INCOMING_MESSAGE_BYTES = 1024 * 1024;
    // What a server sends at most after a connection: 20 photos for each of 50 rooms.
    static constexpr int MAX_MISSED_PHOTOS = 1000;

    void connectSocket();
    void recheck(const char* event);
    void onAboutToClose();
    void sendSavedRooms();
    void sendMissedRequest();
    void sendText(const QString& text);
    void handOverMissed();
    int scaled(int intervalMs) const;

    QWebSocket m_webSocket;
    QUrl m_url;
    QTimer m_reconnectTimer;
    qint32 m_reconnectAttempts;
    qint32 m_maxReconnectAttempts;
    QTimer m_pingTimer;
    QTimer m_pongTimer;
    int m_timeDivisor;
    SeenPhotos m_seen;
    QSet<QString> m_followed; // as last sent
    QList<Photo> m_missed;    // of the catch-up under way
};
