#include "roomhub.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

RoomHub::RoomHub(QObject* parent)
    : QObject(parent)
{
}

RoomHub::~RoomHub()
{
    for (QWebSocket* client : m_rooms.keys())
        client->disconnect(this);
}

QString RoomHub::peerOf(const QWebSocket* client)
{
    return client->peerAddress().toString() + QLatin1Char(':') + QString::number(client->peerPort());
}

void RoomHub::addClient(QWebSocket* client)
{
    client->setParent(this);
    m_rooms.insert(client, {});
    qInfo().noquote() << "Connexion WebSocket de" << peerOf(client) << "(" << m_rooms.size() << "clients )";
    connect(client, &QWebSocket::textMessageReceived, this,
            [this, client](const QString& text) { onTextMessage(client, text); });
    connect(client, &QWebSocket::disconnected, this, [this, client] { onDisconnected(client); });
}

void RoomHub::onDisconnected(QWebSocket* client)
{
    if (!m_rooms.remove(client))
        return;
    qInfo().noquote() << "Déconnexion WebSocket de" << peerOf(client) << "(" << m_rooms.size() << "clients )";
    client->deleteLater();
}

void RoomHub::onTextMessage(QWebSocket* client, const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject message = document.object();
    const QJsonValue rooms = message.value(QStringLiteral("data")).toObject().value(QStringLiteral("rooms"));
    if (!document.isObject() || message.value(QStringLiteral("event")).toString() != QLatin1String("room:changed")
        || !rooms.isArray()) {
        qWarning().noquote() << "Message ignoré de" << peerOf(client) << ":" << text.left(200);
        return;
    }
    QSet<QString> subscribed;
    QStringList listed;
    for (const QJsonValue& room : rooms.toArray()) {
        if (room.isString() && !subscribed.contains(room.toString())) {
            subscribed.insert(room.toString());
            listed.append(room.toString());
        }
    }
    m_rooms.insert(client, subscribed);
    qInfo().noquote() << "Abonnement de" << peerOf(client) << ":" << listed.join(QStringLiteral(", "));
    emit subscriptionChanged(peerOf(client), listed);
}

int RoomHub::broadcast(const QString& room, const QString& imagePath, const QString& message)
{
    QJsonObject data;
    data.insert(QStringLiteral("image"), imagePath);
    data.insert(QStringLiteral("message"), message);
    QJsonObject event;
    event.insert(QStringLiteral("event"), QStringLiteral("photo:broadcast"));
    event.insert(QStringLiteral("data"), data);
    const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
    int sent = 0;
    for (auto it = m_rooms.cbegin(); it != m_rooms.cend(); ++it) {
        if (it.value().contains(room)) {
            it.key()->sendTextMessage(text);
            ++sent;
        }
    }
    qInfo().noquote() << "Diffusion de" << imagePath << "au groupe" << room << ":" << sent << "clients";
    return sent;
}
