// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonArray>
#include <QString>

#include <optional>

class QFile;

// "rooms.json" in the per-user application-data directory: a JSON array of room identifiers.
class RoomListFile
{
public:
    enum class Outcome {
        Missing, // no file, or no access
        Damaged, // a file that does not parse or whose top level is not an array
        Loaded,
    };
    struct Load
    {
        Outcome outcome = Outcome::Missing;
        QJsonArray rooms;
    };

    static QString path();

    // Both readers: the stored array exactly as it stands, elements of every type included.
    static Load load(QFile& file);
    // The server connection's reading: nothing unless an array was found.
    static std::optional<QJsonArray> read();
    static std::optional<QJsonArray> parse(const QByteArray& content);

    // Replaces the file whole or not at all: a crash or a full disk midway leaves the previous
    // list in place. Logs and returns false on failure.
    static bool save(const QFile& file, const QJsonArray& rooms);
    // Keeps a file that failed to load beside it as rooms.json.bak before a save replaces it.
    static void keepBackup(const QFile& file);
};
