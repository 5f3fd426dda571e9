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
#include <QSslSocket>
#include <QWebSocket>

#include <algorithm>
#include <cmath>

namespace {

const QString ROOMS_EVENT = QStringLiteral("room:changed");
const QString MISSED_REQUEST_EVENT = QStringLiteral("photos:missed-request");
const QString MISSED_DONE_EVENT = QStringLiteral("photos:missed-done");

// The rooms of a "room:changed" message, trimmed and without repeats; false when it lists too
// many rooms, or a room that is not 1 to 10 characters.
bool roomsOf(const QJsonObject& data, QStringList& rooms)
{
    const QJsonValue list = data.value(QStringLiteral("rooms"));
    if (!list.isArray() || list.toArray().size() > RoomHub::MAX_ROOMS)
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

// The newest photo id a "photos:missed-request" message knows for each room; false when it
// names too many rooms, a room that is not 1 to 10 characters, or an id that is not a whole
// number from 0 to PhotoHistory::MAX_ID.
bool knownIdsOf(const QJsonObject& data, QHash<QString, qint64>& known)
{
    const QJsonValue value = data.value(QStringLiteral("known"));
    if (!value.isObject() || value.toObject().size() > RoomHub::MAX_ROOMS)
        return false;
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString room = RoomHub::validRoom(it.key());
        const double id = it.value().toDouble(-1);
        if (room.isEmpty() || id < 0 || id > double(PhotoHistory::MAX_ID) || id != std::floor(id))
            return false;
        known.insert(room, qint64(id));
    }
    return true;
}

QString eventText(const QString& event, const QJsonObject& data)
{
    QJsonObject message;
    message.insert(QStringLiteral("event"), event);
    message.insert(QStringLiteral("data"), data);
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QString photoText(const PhotoHistory::Photo& photo, bool missed)
{
    QJsonObject data;
    data.insert(QStringLiteral("id"), QJsonValue(photo.id));
    data.insert(QStringLiteral("image"), photo.image);
    data.insert(QStringLiteral("message"), photo.message);
    data.insert(QStringLiteral("room"), photo.room);
    data.insert(QStringLiteral("time"), photo.time.toString(Qt::ISODateWithMs));
    if (missed)
        data.insert(QStringLiteral("missed"), true);
    return eventText(QStringLiteral("photo:broadcast"), data);
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
        connect(socket, &QIODevice::bytesWritten, this, [this, client] { sendMissed(client); });
        if (auto* tls = qobject_cast<QSslSocket*>(socket))
            connect(tls, &QSslSocket::encryptedBytesWritten, this, [this, client] { sendMissed(client); });
    } else {
        connect(client, &QWebSocket::bytesWritten, this, [this, client] { sendMissed(client); });
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
    if (!m_clients.contains(client))
        return;
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString event = message.value(QStringLiteral("event")).toString();
    const QJsonObject data = message.value(QStringLiteral("data")).toObject();
    QStringList rooms;
    QHash<QString, qint64> known;
    if (event == ROOMS_EVENT && roomsOf(data, rooms))
        subscribe(client, rooms);
    else if (event == MISSED_REQUEST_EVENT && knownIdsOf(data, known))
        answerMissed(client, known);
    else
        warn(QStringLiteral("ignored"),
             QStringLiteral("Message ignoré de %1 : %2").arg(peerOf(client), LogText::quoted(text)));
}

void RoomHub::subscribe(QWebSocket* client, const QStringList& rooms)
{
    m_clients[client].rooms = QSet<QString>(rooms.cbegin(), rooms.cend());
    QStringList logged;
    for (const QString& room : rooms.mid(0, LOGGED_ROOMS))
        logged.append(LogText::quoted(room));
    qInfo().noquote() << "Abonnement de" << peerOf(client) << ":" << rooms.size() << "groupes :"
                      << logged.join(QStringLiteral(", "))
                             + (rooms.size() > LOGGED_ROOMS ? QStringLiteral(", …") : QString());
    emit subscriptionChanged(peerOf(client), rooms);
}

// Only rooms the client follows; a new request replaces an answer still under way.
void RoomHub::answerMissed(QWebSocket* client, const QHash<QString, qint64>& known)
{
    Client& entry = m_clients[client];
    entry.missed.clear();
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        if (entry.rooms.contains(it.key()))
            entry.missed += m_history.after(it.key(), it.value());
    }
    std::sort(entry.missed.begin(), entry.missed.end(),
              [](const PhotoHistory::Photo& a, const PhotoHistory::Photo& b) { return a.id < b.id; });
    entry.missedCount = int(entry.missed.size());
    qInfo().noquote() << "Photos manquées pour" << peerOf(client) << ":" << entry.missedCount;
    sendMissed(client);
}

// A little at a time as the socket drains, so that a long catch-up never looks like a client
// that does not read; then the count, which tells the client the catch-up is over.
void RoomHub::sendMissed(QWebSocket* client)
{
    const auto it = m_clients.find(client);
    if (it == m_clients.end() || it->missedCount < 0)
        return;
    while (!it->missed.isEmpty() && unsentBytes(client) < ServerLimits::MISSED_SENT_BELOW_UNSENT_BYTES)
        client->sendTextMessage(photoText(it->missed.takeFirst(), true));
    if (!it->missed.isEmpty())
        return;
    QJsonObject data;
    data.insert(QStringLiteral("count"), it->missedCount);
    data.insert(QStringLiteral("latest"), m_history.latestId());
    it->missedCount = -1;
    client->sendTextMessage(eventText(MISSED_DONE_EVENT, data));
}

int RoomHub::broadcast(const QString& room, const QString& imagePath, const QString& message)
{
    const QString text = photoText(m_history.add(room, imagePath, message), false);
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
