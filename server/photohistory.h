// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/servermessages.h"
#include "serverlimits.h"

#include <QHash>
#include <QList>
#include <QString>

// The photos each room was sent, kept while their pictures are, so that a client back from an
// absence can ask for those it missed.
class PhotoHistory
{
public:
    using Photo = BroadcastPhoto;

    PhotoHistory();

    // Every photo given an id from here on has a larger one, whatever was sent before.
    qint64 latestId() const { return m_lastId; }
    // Gives the photo its id and time, and keeps it.
    Photo add(const QString& room, const QString& image, const QString& message);
    // Keeps a photo given its id elsewhere (another instance), unless already kept; ids given
    // here from then on are larger.
    void keep(const Photo& photo);
    // The picture is gone: its photo can no longer be caught up.
    void forget(const QString& image);
    // The room's photos after id: the newest ServerLimits::MAX_MISSED_PER_ROOM, oldest first.
    QList<Photo> after(const QString& room, qint64 id) const;

private:
    QHash<QString, QList<Photo>> m_rooms; // oldest first
    QHash<QString, QString> m_roomOfImage;
    qint64 m_lastId;
};
