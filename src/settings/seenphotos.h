// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>

// "seen.json" beside the room list: for each followed room, the newest photo id known while
// following it, {"famille":1733628364123}, which is what the client asks the server to catch up
// from. Written whole on each change, as the room list is.
class SeenPhotos
{
public:
    // More than a room list of any sensible length; a larger file is not ours.
    static constexpr qint64 MAX_FILE_BYTES = 64 * 1024;

    static QString path();

    // Reads the file; one that cannot be read is ignored, with a warning.
    explicit SeenPhotos(const QString& path);

    // A photo of a followed room came with this id (-1 for none, from an older server); a newer id
    // than the one known is kept, and true returned.
    bool note(const QString& room, qint64 id);
    // The server's newest id when a catch-up ends: the rooms with no id yet catch up from there,
    // so a room followed before any photo came to it loses none sent while away.
    void noteStart(const QSet<QString>& rooms, qint64 id);
    // Rooms no longer followed are forgotten, so that following one again catches up nothing
    // from before.
    void keepOnly(const QSet<QString>& rooms);
    QJsonObject known() const { return m_known; }

private:
    void write() const;

    QString m_path;
    QJsonObject m_known;
};
