// SPDX-License-Identifier: GPL-3.0-or-later
#include "roomrelay.h"

#include "protocol/roomname.h"
#include "protocol/servermessages.h"
#include "redislink.h"
#include "roomhub.h"
#include "serverlimits.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

#include <hiredis/hiredis.h>

#include <memory>

RoomRelay::RoomRelay(RedisLink& link, RoomHub& hub, const QString& instance, int historySeconds,
                     const std::function<bool(const QString&)>& pictureExists, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_hub(hub)
    , m_instance(instance)
    , m_historySeconds(historySeconds)
    , m_pictureExists(pictureExists)
{
    connect(&hub, &RoomHub::roomOpened, this, [this](const QString& room) { m_link.subscribe(channelOf(room)); });
    connect(&hub, &RoomHub::roomClosed, this, [this](const QString& room) { m_link.unsubscribe(channelOf(room)); });
    connect(&hub, &RoomHub::photoBroadcast, this, &RoomRelay::onPhotoBroadcast);
    connect(&link, &RedisLink::message, this, &RoomRelay::onMessage);
    hub.setHistoryFetch(
        [this](const QStringList& rooms, const std::function<void()>& done) { fetchHistory(rooms, done); });
}

QByteArray RoomRelay::channelOf(const QString& room)
{
    return "glimdeck:room:" + room.toUtf8();
}

QByteArray RoomRelay::historyKeyOf(const QString& room)
{
    return "glimdeck:history:" + room.toUtf8();
}

QByteArray RoomRelay::envelopeOf(const PhotoHistory::Photo& photo) const
{
    QJsonObject envelope = ServerMessages::fieldsOf(photo);
    envelope.insert(QStringLiteral("origin"), m_instance);
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

bool RoomRelay::photoOf(const QByteArray& envelope, PhotoHistory::Photo& photo, QString& origin)
{
    if (envelope.size() > ServerLimits::MAX_ENVELOPE_BYTES)
        return false;
    const QJsonObject object = QJsonDocument::fromJson(envelope).object();
    origin = object.value(QStringLiteral("origin")).toString();
    photo = ServerMessages::photoOfFields(object);
    photo.missed = false; // an envelope's photo is a live one
    return photo.id > 0 && photo.time.isValid() && !photo.room.isEmpty() && RoomName::valid(photo.room) == photo.room
           && photo.image.startsWith(QLatin1String("/images/"));
}

void RoomRelay::onPhotoBroadcast(const PhotoHistory::Photo& photo)
{
    const QByteArray envelope = envelopeOf(photo);
    const QByteArray key = historyKeyOf(photo.room);
    m_link.command({"PUBLISH", channelOf(photo.room), envelope});
    m_link.command({"LPUSH", key, envelope});
    m_link.command({"LTRIM", key, "0", QByteArray::number(ServerLimits::MAX_MISSED_PER_ROOM - 1)});
    m_link.command({"EXPIRE", key, QByteArray::number(m_historySeconds)});
}

void RoomRelay::onMessage(const QByteArray& channel, const QByteArray& payload)
{
    PhotoHistory::Photo photo;
    QString origin;
    if (!photoOf(payload, photo, origin) || channel != channelOf(photo.room)) {
        qWarning().noquote() << "Message Redis illisible sur"
                             << QString::fromUtf8(channel.left(ServerLimits::MAX_LOGGED_CHANNEL_BYTES));
        return;
    }
    if (origin != m_instance)
        m_hub.deliver(photo);
}

// Without Redis the catch-up answers from what this instance saw itself.
void RoomRelay::fetchHistory(const QStringList& rooms, const std::function<void()>& done)
{
    if (rooms.isEmpty() || !m_link.isUp()) {
        done();
        return;
    }
    auto left = std::make_shared<int>(int(rooms.size()));
    for (const QString& room : rooms) {
        const QByteArray last = QByteArray::number(ServerLimits::MAX_MISSED_PER_ROOM - 1);
        m_link.command({"LRANGE", historyKeyOf(room), "0", last}, [this, left, done](const redisReply* reply) {
            for (size_t i = 0; reply && reply->type == REDIS_REPLY_ARRAY && i < reply->elements; ++i) {
                PhotoHistory::Photo photo;
                QString origin;
                const redisReply* item = reply->element[i];
                if (item->type == REDIS_REPLY_STRING && photoOf(QByteArray(item->str, int(item->len)), photo, origin)
                    && m_pictureExists(photo.image))
                    m_hub.keep(photo);
            }
            if (--*left == 0)
                done();
        });
    }
}
