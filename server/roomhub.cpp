// SPDX-License-Identifier: GPL-3.0-or-later
#include "roomhub.h"

#include "logtext.h"
#include "serverlimits.h"
#include "socketbacklog.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QWebSocket>

namespace {

// The rooms of a "room:changed" message, trimmed and without repeats; false when the message
// is not one, lists too many rooms, or a room that is not 1 to 10 characters.
bool roomsOf(const QString& text, QStringList& rooms)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject message = document.object();
    const QJsonValue list = message.value(QStringLiteral("data")).toObject().value(QStringLiteral("rooms"));
    if (message.value(QStringLiteral("event")).toString() != QLatin1String("room:changed") || !list.isArray()
        || list.toArray().size() > RoomHub::MAX_ROOMS)
        return false;
    for (const QJsonValue& value : list.toArray()) {
        const QString room = RoomHub::validRoom(value.toString());
        if (room.isEmpty())
            return false;
        if (!rooms.contains(room))
            rooms.append(room);
    }
    return true;
}

} // namespace

RoomHub::RoomHub(int pingIntervalMs, QObject* parent)
    : QObject(parent)
{
    connect(&m_pingTimer, &QTimer::timeout, this, &RoomHub::onPingTimeout);
    m_pingTimer.start(pingIntervalMs);
}

RoomHub::~RoomHub()
{
    for (QWebSocket* client : m_clients.keys())
        client->disconnect(this);
}

QString RoomHub::validRoom(const QString& room)
{
    const QString trimmed = room.trimmed();
    return trimmed.size() <= MAX_ROOM_LENGTH ? trimmed : QString();
}

QString RoomHub::peerOf(const QWebSocket* client)
{
    return client->peerAddress().toString() + QLatin1Char(':') + QString::number(client->peerPort());
}

void RoomHub::addClient(QWebSocket* client, QTcpSocket* socket)
{
    client->setParent(this);
    client->setMaxAllowedIncomingMessageSize(MAX_INCOMING_MESSAGE_BYTES);
    client->setMaxAllowedIncomingFrameSize(MAX_INCOMING_MESSAGE_BYTES);
    Client entry;
    entry.socket = socket;
    m_clients.insert(client, entry);
    qInfo().noquote() << "Connexion WebSocket de" << peerOf(client) << "(" << m_clients.size() << "clients )";
    connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { onTextMessage(client, text); });
    connect(client, &QWebSocket::pong, this,
            [this, client](quint64, const QByteArray& payload) { onPong(client, payload); });
    connect(client, &QWebSocket::disconnected, this, [this, client] { onDisconnected(client); });
    if (socket) {
        // Qt answers every ping by itself: reading little at a time bounds the pongs one batch of
        // pings queues, and each read is a moment to see whether the client still takes them.
        socket->setReadBufferSize(ServerLimits::WEBSOCKET_READ_BUFFER_BYTES);
        connect(socket, &QIODevice::readyRead, this, [this, client] { onSocketRead(client); });
    }
}

qint64 RoomHub::unsentBytes(QWebSocket* client) const
{
    const QTcpSocket* socket = m_clients.value(client).socket;
    return socket ? SocketBacklog::unsentBytes(socket) : client->bytesToWrite();
}

void RoomHub::warn(const QString& kind, const QString& line)
{
    qint64 held = 0;
    if (m_log.pass(kind, &held))
        qWarning().noquote() << line + LogThrottle::heldNote(held);
}

void RoomHub::onSocketRead(QWebSocket* client)
{
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return;
    if (++it->reads > ServerLimits::MAX_CLIENT_READS_PER_PING) {
        drop(client, "trop de messages");
        return;
    }
    if (unsentBytes(client) > ServerLimits::MAX_UNSENT_BYTES)
        drop(client, "trop de données en attente");
}

void RoomHub::onPong(QWebSocket* client, const QByteArray& payload)
{
    // A pong nobody asked for says nothing about the client being alive.
    const auto it = m_clients.find(client);
    if (it != m_clients.end() && !it->pingPayload.isEmpty() && payload == it->pingPayload)
        it->pingPayload.clear();
}

void RoomHub::onDisconnected(QWebSocket* client)
{
    if (!m_clients.remove(client))
        return;
    qInfo().noquote() << "Déconnexion WebSocket de" << peerOf(client) << "(" << m_clients.size() << "clients )";
    client->deleteLater();
}

void RoomHub::drop(QWebSocket* client, const char* reason)
{
    warn(QString::fromUtf8(reason),
         QStringLiteral("Client WebSocket %1 déconnecté : %2").arg(peerOf(client), QString::fromUtf8(reason)));
    client->abort();
    onDisconnected(client);
}

void RoomHub::onPingTimeout()
{
    for (QWebSocket* client : m_clients.keys()) {
        Client& entry = m_clients[client];
        if (!entry.pingPayload.isEmpty()) {
            drop(client, "pas de réponse au ping");
            continue;
        }
        const quint64 nonce = QRandomGenerator::global()->generate64();
        entry.pingPayload = QByteArray(reinterpret_cast<const char*>(&nonce), sizeof nonce);
        entry.reads = 0;
        client->ping(entry.pingPayload);
    }
}

void RoomHub::onTextMessage(QWebSocket* client, const QString& text)
{
    QStringList rooms;
    if (!m_clients.contains(client))
        return;
    if (!roomsOf(text, rooms)) {
        warn(QStringLiteral("ignored"),
             QStringLiteral("Message ignoré de %1 : %2").arg(peerOf(client), LogText::quoted(text)));
        return;
    }
    m_clients[client].rooms = QSet<QString>(rooms.cbegin(), rooms.cend());
    QStringList logged;
    for (const QString& room : rooms.mid(0, LOGGED_ROOMS))
        logged.append(LogText::quoted(room));
    qInfo().noquote() << "Abonnement de" << peerOf(client) << ":" << rooms.size() << "groupes :"
                      << logged.join(QStringLiteral(", "))
                             + (rooms.size() > LOGGED_ROOMS ? QStringLiteral(", …") : QString());
    emit subscriptionChanged(peerOf(client), rooms);
}

int RoomHub::broadcast(const QString& room, const QString& imagePath, const QString& message)
{
    QJsonObject data;
    data.insert(QStringLiteral("image"), imagePath);
    data.insert(QStringLiteral("message"), message);
    data.insert(QStringLiteral("room"), room);
    QJsonObject event;
    event.insert(QStringLiteral("event"), QStringLiteral("photo:broadcast"));
    event.insert(QStringLiteral("data"), data);
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    int sent = 0;
    for (QWebSocket* client : m_clients.keys()) {
        if (!m_clients.value(client).rooms.contains(room))
            continue;
        if (unsentBytes(client) > ServerLimits::MAX_UNSENT_BYTES) {
            drop(client, "trop de données en attente");
            continue;
        }
        client->sendTextMessage(text);
        ++sent;
    }
    qInfo().noquote() << "Diffusion de" << imagePath << "au groupe" << LogText::quoted(room) << ":" << sent
                      << "clients";
    return sent;
}
