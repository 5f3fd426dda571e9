// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

// "pause.json" beside the room list: the end of a pause, {"until":"2026-12-08T07:00:00.000Z"},
// or {} when none runs. Written whole on each change, as the room list is.
class PauseFile
{
public:
    static QString path();

    // An invalid time when there is no pause; a file that cannot be read is ignored, with a warning.
    static QDateTime read(const QString& path);
    // Logs and returns false on failure.
    static bool write(const QString& path, const QDateTime& until);
};
