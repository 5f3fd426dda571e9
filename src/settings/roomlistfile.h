#pragma once

#include <QJsonArray>
#include <QString>

#include <optional>

// "rooms.json" in the per-user application-data directory: a JSON array of room identifiers.
class RoomListFile
{
public:
    static QString path();

    // The stored array exactly as it stands, elements of every type included; nothing when the
    // file is missing, unreadable, malformed (logged) or not an array.
    static std::optional<QJsonArray> read();
    static std::optional<QJsonArray> parse(const QByteArray& content);
};
