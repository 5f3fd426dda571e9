// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/wiremessage.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// One photo as the server sends it.
struct BroadcastPhoto
{
    qint64 id = 0;  // -1 when a message gives none that is valid
    QDateTime time; // UTC; invalid when a message gives none
    QString room;
    QString image; // the picture's path on the server
    QString message;
    bool missed = false; // sent again, in a catch-up
};

// What the server sends: written by the server, read by the client; the photo's fields are also
// what the server's instances pass each other.
namespace ServerMessages {

QJsonObject fieldsOf(const BroadcastPhoto& photo);
// Members missing or of another type read as empty.
BroadcastPhoto photoOfFields(const QJsonObject& fields);

// "photo:broadcast"
QString photoText(const BroadcastPhoto& photo);
// "photos:missed-done": how many photos the catch-up sent, and the newest id given so far.
QString missedDoneText(int count, qint64 latest);

// Nothing unless the event is "photo:broadcast", matched exactly.
std::optional<BroadcastPhoto> photoOf(const WireMessage::Parsed& message);
// The newest id of a "photos:missed-done" message, -1 when it gives none; nothing for another event.
std::optional<qint64> latestOf(const WireMessage::Parsed& message);

} // namespace ServerMessages
