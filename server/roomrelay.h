// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "photohistory.h"

#include <QObject>
#include <QString>

#include <functional>

class RedisLink;
class RoomHub;

// Carries each room's photos between the instances of a group, over one Redis channel per room
// that this instance follows while it has clients there. Each photo goes to this instance's
// own clients first, then out; what comes back with this instance's name is its own echo. The
// rooms' last photos are kept in Redis too, so a client catches up on whichever instance.
class RoomRelay : public QObject
{
    Q_OBJECT

public:
    // pictureExists tells whether a photo's picture is still stored, so that gone ones are not
    // caught up on; historySeconds is how long a room's history stays in Redis.
    RoomRelay(RedisLink& link, RoomHub& hub, const QString& instance, int historySeconds,
              const std::function<bool(const QString& image)>& pictureExists, QObject* parent = nullptr);

    static QByteArray channelOf(const QString& room);

private:
    void onPhotoBroadcast(const PhotoHistory::Photo& photo);
    void onMessage(const QByteArray& channel, const QByteArray& payload);
    void fetchHistory(const QStringList& rooms, const std::function<void()>& done);
    QByteArray envelopeOf(const PhotoHistory::Photo& photo) const;
    // False when the envelope is not a whole photo of a valid room.
    static bool photoOf(const QByteArray& envelope, PhotoHistory::Photo& photo, QString& origin);
    static QByteArray historyKeyOf(const QString& room);

    RedisLink& m_link;
    RoomHub& m_hub;
    QString m_instance;
    int m_historySeconds;
    std::function<bool(const QString&)> m_pictureExists;
};
