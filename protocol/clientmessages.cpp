// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/clientmessages.h"

#include "protocol/roomname.h"

QString ClientMessages::roomsText(const QJsonArray& rooms)
{
    return WireMessage::text(WireMessage::ROOMS_EVENT, {{QStringLiteral("rooms"), rooms}});
}

QString ClientMessages::missedRequestText(const QJsonObject& known)
{
    return WireMessage::text(WireMessage::MISSED_REQUEST_EVENT, {{QStringLiteral("known"), known}});
}

std::optional<QStringList> ClientMessages::roomsOf(const WireMessage::Parsed& message)
{
    const QJsonValue list = message.data.value(QStringLiteral("rooms"));
    if (message.event != QLatin1String(WireMessage::ROOMS_EVENT) || !list.isArray()
        || list.toArray().size() > MAX_ROOMS)
        return std::nullopt;
    QStringList rooms;
    for (const QJsonValue& value : list.toArray()) {
        // A room the rule refuses is left out, not the list: the client keeps what the user
        // typed, and one such entry must not cost the user every other room.
        const QString room = RoomName::valid(value.toString());
        if (!room.isEmpty() && !rooms.contains(room))
            rooms.append(room);
    }
    return rooms;
}

std::optional<QHash<QString, qint64>> ClientMessages::knownOf(const WireMessage::Parsed& message)
{
    const QJsonValue value = message.data.value(QStringLiteral("known"));
    if (message.event != QLatin1String(WireMessage::MISSED_REQUEST_EVENT) || !value.isObject()
        || value.toObject().size() > MAX_ROOMS)
        return std::nullopt;
    const QJsonObject object = value.toObject();
    QHash<QString, qint64> known;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString room = RoomName::valid(it.key());
        const qint64 id = WireMessage::photoId(it.value());
        if (room.isEmpty() || id < 0)
            return std::nullopt;
        known.insert(room, id);
    }
    return known;
}
