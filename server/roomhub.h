#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class QWebSocket;

// The connected WebSocket clients and the rooms each one listens to.
class RoomHub : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_ROOM_LENGTH = 10;

    explicit RoomHub(QObject* parent = nullptr);
    ~RoomHub() override;

    // Takes the connection over; it is deleted when it closes.
    void addClient(QWebSocket* client);
    int clientCount() const { return int(m_rooms.size()); }
    // Sends a photo to every client subscribed to room; returns how many got it.
    int broadcast(const QString& room, const QString& imagePath, const QString& message);

signals:
    void subscriptionChanged(const QString& peer, const QStringList& rooms);

private:
    void onTextMessage(QWebSocket* client, const QString& text);
    void onDisconnected(QWebSocket* client);
    static QString peerOf(const QWebSocket* client);

    QHash<QWebSocket*, QSet<QString>> m_rooms;
};
