// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/wiremessage.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

QString WireMessage::text(const char* event, const QJsonObject& data)
{
    QJsonObject message;
    message.insert(QStringLiteral("event"), QLatin1String(event));
    message.insert(QStringLiteral("data"), data);
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

std::optional<WireMessage::Parsed> WireMessage::parse(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    return Parsed{object.value(QStringLiteral("event")).toString(), object.value(QStringLiteral("data")).toObject()};
}

qint64 WireMessage::photoId(const QJsonValue& value)
{
    const double id = value.toDouble(-1);
    return id >= 0 && id <= double(MAX_PHOTO_ID) && id == std::floor(id) ? qint64(id) : -1;
}
