// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

class QJsonValue;

// One application message: a JSON object in one WebSocket text message, with the event's name
// under "event" and its arguments, an object, under "data". Written compact, so the members come
// in key order and the bytes of a message never vary.
namespace WireMessage {

// From the client: its whole room list; the newest photo id it knows in each room.
constexpr char ROOMS_EVENT[] = "room:changed";
constexpr char MISSED_REQUEST_EVENT[] = "photos:missed-request";
// From the server: one photo, live or caught up; the end of a catch-up.
constexpr char PHOTO_EVENT[] = "photo:broadcast";
constexpr char MISSED_DONE_EVENT[] = "photos:missed-done";

// Ids stay exact in every JSON reader.
constexpr qint64 MAX_PHOTO_ID = (qint64(1) << 53) - 1;

struct Parsed
{
    QString event;    // empty when missing or not a string
    QJsonObject data; // empty when missing or not an object
};

QString text(const char* event, const QJsonObject& data);
// Nothing when the text is not a JSON object.
std::optional<Parsed> parse(const QString& text);
// A whole number from 0 to MAX_PHOTO_ID; -1 for anything else.
qint64 photoId(const QJsonValue& value);

} // namespace WireMessage
