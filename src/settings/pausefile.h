// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonValue>
#include <QString>

// "pause.json" beside the room list: the end of a pause and the rooms muted,
// {"until":"2026-12-08T07:00:00.000Z","mutes":{"bureau":"2026-12-08T07:00:00.000Z","famille":null}}
// (null: until unmuted), or {} when nothing runs. Written whole on each change, as the room list
// is; each writer replaces its own field and keeps the other.
class PauseFile
{
public:
    using Mutes = QHash<QString, QDateTime>; // an invalid time: no end

    static QString path();

    // An invalid time when there is no pause; a file that cannot be read is ignored, with a warning.
    static QDateTime read(const QString& path);
    static Mutes readMutes(const QString& path);
    // Log and return false on failure.
    static bool write(const QString& path, const QDateTime& until);
    static bool writeMutes(const QString& path, const Mutes& mutes);

private:
    static bool writeField(const QString& path, const QString& name, const QJsonValue& value);
};
