// SPDX-License-Identifier: GPL-3.0-or-later
#include "roomhub.h"

#include "logtext.h"
#include "protocol/clientmessages.h"
#include "protocol/servermessages.h"
#include "serverlimits.h"
#include "socketbacklog.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QWebSocket>

#include <algorithm>

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

QString RoomHub::peerOf(const QWebSocket* client)
{
    return client->peerAddress().toString() + QLatin1Char(':') + QString::number(client->peerPort());
}

void RoomHub::addClient(QWebSocket* client, QTcpSocket* socket)
{
    client->setParent(this);
    client->setMaxAllowedIncomingMessageSize(ServerLimits::MAX_INCOMING_MESSAGE_BYTES);
    client->setMaxAllowedIncomingFrameSize(ServerLimits::MAX_INCOMING_MESSAGE_BYTES);
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
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return;
    setRooms(*it, {});
    m_clients.erase(it);
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
    const WireMessage::Parsed message = WireMessage::parse(text).value_or(WireMessage::Parsed());
    const std::optional<QStringList> rooms = ClientMessages::roomsOf(message);
    const std::optional<QHash<QString, qint64>> known = ClientMessages::knownOf(message);
    if (rooms)
        subscribe(client, *rooms);
    else if (known)
        answerMissed(client, *known);
    else
        warn(QStringLiteral("ignored"),
             QStringLiteral("Message ignoré de %1 : %2").arg(peerOf(client), LogText::quoted(text)));
}

void RoomHub::subscribe(QWebSocket* client, const QStringList& rooms)
{
    setRooms(m_clients[client], QSet<QString>(rooms.cbegin(), rooms.cend()));
    QStringList logged;
    for (const QString& room : rooms.mid(0, ServerLimits::MAX_LOGGED_ROOMS))
        logged.append(LogText::quoted(room));
    qInfo().noquote() << "Abonnement de" << peerOf(client) << ":" << rooms.size() << "groupes :"
                      << logged.join(QStringLiteral(", "))
                             + (rooms.size() > ServerLimits::MAX_LOGGED_ROOMS ? QStringLiteral(", …") : QString());
    emit subscriptionChanged(peerOf(client), rooms);
}

void RoomHub::setRooms(Client& entry, const QSet<QString>& rooms)
{
    for (const QString& room : rooms - entry.rooms) {
        if (m_members[room]++ == 0)
            emit roomOpened(room);
    }
    for (const QString& room : entry.rooms - rooms) {
        if (--m_members[room] == 0) {
            m_members.remove(room);
            emit roomClosed(room);
        }
    }
    entry.rooms = rooms;
}

void RoomHub::answerMissed(QWebSocket* client, const QHash<QString, qint64>& known)
{
    if (!m_historyFetch) {
        answerMissedNow(client, known);
        return;
    }
    QStringList rooms;
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        if (m_clients.value(client).rooms.contains(it.key()))
            rooms.append(it.key());
    }
    m_historyFetch(rooms, [this, guarded = QPointer<QWebSocket>(client), known] {
        if (guarded && m_clients.contains(guarded))
            answerMissedNow(guarded, known);
    });
}

// Only rooms the client follows; a new request replaces an answer still under way.
void RoomHub::answerMissedNow(QWebSocket* client, const QHash<QString, qint64>& known)
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
    while (!it->missed.isEmpty() && unsentBytes(client) < ServerLimits::MISSED_SENT_BELOW_UNSENT_BYTES) {
        PhotoHistory::Photo photo = it->missed.takeFirst();
        photo.missed = true;
        client->sendTextMessage(ServerMessages::photoText(photo));
    }
    if (!it->missed.isEmpty())
        return;
    const int count = it->missedCount;
    it->missedCount = -1;
    client->sendTextMessage(ServerMessages::missedDoneText(count, m_history.latestId()));
}

int RoomHub::broadcast(const QString& room, const QString& imagePath, const QString& message)
{
    const PhotoHistory::Photo photo = m_history.add(room, imagePath, message);
    const int sent = sendToRoom(photo);
    emit photoBroadcast(photo);
    return sent;
}

int RoomHub::deliver(const PhotoHistory::Photo& photo)
{
    m_history.keep(photo);
    return sendToRoom(photo);
}

int RoomHub::sendToRoom(const PhotoHistory::Photo& photo)
{
    const QString& room = photo.room;
    const QString text = ServerMessages::photoText(photo);
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
    qInfo().noquote() << "Diffusion de" << photo.image << "au groupe" << LogText::quoted(room) << ":" << sent
                      << "clients";
    return sent;
}
