// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/servermessages.h"

#include <QJsonValue>

QJsonObject ServerMessages::fieldsOf(const BroadcastPhoto& photo)
{
    QJsonObject fields;
    fields.insert(QStringLiteral("id"), QJsonValue(photo.id));
    fields.insert(QStringLiteral("image"), photo.image);
    fields.insert(QStringLiteral("message"), photo.message);
    fields.insert(QStringLiteral("room"), photo.room);
    fields.insert(QStringLiteral("time"), photo.time.toString(Qt::ISODateWithMs));
    if (photo.missed)
        fields.insert(QStringLiteral("missed"), true);
    return fields;
}

BroadcastPhoto ServerMessages::photoOfFields(const QJsonObject& fields)
{
    BroadcastPhoto photo;
    photo.id = WireMessage::photoId(fields.value(QStringLiteral("id")));
    photo.time = QDateTime::fromString(fields.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    photo.room = fields.value(QStringLiteral("room")).toString();
    photo.image = fields.value(QStringLiteral("image")).toString();
    photo.message = fields.value(QStringLiteral("message")).toString();
    photo.missed = fields.value(QStringLiteral("missed")).toBool();
    return photo;
}

QString ServerMessages::photoText(const BroadcastPhoto& photo)
{
    return WireMessage::text(WireMessage::PHOTO_EVENT, fieldsOf(photo));
}

QString ServerMessages::missedDoneText(int count, qint64 latest)
{
    return WireMessage::text(WireMessage::MISSED_DONE_EVENT,
                             {{QStringLiteral("count"), count}, {QStringLiteral("latest"), latest}});
}

std::optional<BroadcastPhoto> ServerMessages::photoOf(const WireMessage::Parsed& message)
{
    if (message.event != QLatin1String(WireMessage::PHOTO_EVENT))
        return std::nullopt;
    return photoOfFields(message.data);
}

std::optional<qint64> ServerMessages::latestOf(const WireMessage::Parsed& message)
{
    if (message.event != QLatin1String(WireMessage::MISSED_DONE_EVENT))
        return std::nullopt;
    return WireMessage::photoId(message.data.value(QStringLiteral("latest")));
}
