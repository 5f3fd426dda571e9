// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/wiremessage.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <optional>

// What the client sends: written by the client, read and bounded by the server.
namespace ClientMessages {

// Rooms in one subscription or one catch-up request.
constexpr int MAX_ROOMS = 50;

// "room:changed": the rooms exactly as given, whatever their JSON type.
QString roomsText(const QJsonArray& rooms);
// "photos:missed-request": for each room, the newest photo id known there.
QString missedRequestText(const QJsonObject& known);

// The rooms of a "room:changed" message, trimmed and without repeats, leaving out those that break
// the room-name rule; nothing for another event, or when the message lists too many rooms.
std::optional<QStringList> roomsOf(const WireMessage::Parsed& message);
// The ids of a "photos:missed-request" message; nothing for another event, or when it names too
// many rooms, a room that breaks the rule, or something that is not a photo id.
std::optional<QHash<QString, qint64>> knownOf(const WireMessage::Parsed& message);

} // namespace ClientMessages
