// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logthrottle.h"
#include "photohistory.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>

class QTcpSocket;
class QWebSocket;

// The connected WebSocket clients and the rooms each one listens to.
class RoomHub : public QObject
{
    Q_OBJECT

public:
    explicit RoomHub(int pingIntervalMs, QObject* parent = nullptr);
    ~RoomHub() override;

    // Takes the connection over; it is deleted when it closes. socket is the one below it, where
    // its unsent bytes wait (none when unknown: only the WebSocket's own count is seen then).
    void addClient(QWebSocket* client, QTcpSocket* socket);
    int clientCount() const { return int(m_clients.size()); }
    // Sends a photo to every client subscribed to room; returns how many got it.
    int broadcast(const QString& room, const QString& imagePath, const QString& message);
    // Sends a photo that came from another instance to this one's clients of its room.
    int deliver(const PhotoHistory::Photo& photo);
    // A photo given its id elsewhere, kept for clients catching up.
    void keep(const PhotoHistory::Photo& photo) { m_history.keep(photo); }
    // Called before each catch-up answer with the rooms it covers, and given what to run once
    // their history is complete here (the instances' shared history is fetched meanwhile).
    using HistoryFetch = std::function<void(const QStringList& rooms, const std::function<void()>& done)>;
    void setHistoryFetch(const HistoryFetch& fetch) { m_historyFetch = fetch; }
    // The picture is gone: its photo is no longer sent to clients catching up.
    void forget(const QString& imagePath) { m_history.forget(imagePath); }

signals:
    void subscriptionChanged(const QString& peer, const QStringList& rooms);
    // The first of this instance's clients joined the room; the last left it.
    void roomOpened(const QString& room);
    void roomClosed(const QString& room);
    // Sent to this instance's clients, from an upload here.
    void photoBroadcast(const PhotoHistory::Photo& photo);

private:
    struct Client
    {
        QSet<QString> rooms;
        QPointer<QTcpSocket> socket;
        QByteArray pingPayload;            // of our ping not yet answered; empty when none is
        int reads = 0;                     // since our last ping
        QList<PhotoHistory::Photo> missed; // to send as the socket drains, oldest first
        int missedCount = -1;              // of the answer under way; -1 when none is
    };
    void onTextMessage(QWebSocket* client, const QString& text);
    void subscribe(QWebSocket* client, const QStringList& rooms);
    void answerMissed(QWebSocket* client, const QHash<QString, qint64>& known);
    void answerMissedNow(QWebSocket* client, const QHash<QString, qint64>& known);
    int sendToRoom(const PhotoHistory::Photo& photo);
    void setRooms(Client& entry, const QSet<QString>& rooms);
    void sendMissed(QWebSocket* client);
    void onPong(QWebSocket* client, const QByteArray& payload);
    void onSocketRead(QWebSocket* client);
    qint64 unsentBytes(QWebSocket* client) const;
    void warn(const QString& kind, const QString& line);
    void onDisconnected(QWebSocket* client);
    void onPingTimeout();
    void drop(QWebSocket* client, const char* reason);
    static QString peerOf(const QWebSocket* client);

    QHash<QWebSocket*, Client> m_clients;
    PhotoHistory m_history;
    QHash<QString, int> m_members; // clients of each room
    HistoryFetch m_historyFetch;
    QTimer m_pingTimer;
    LogThrottle m_log;
};
