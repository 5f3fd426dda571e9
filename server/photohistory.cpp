// SPDX-License-Identifier: GPL-3.0-or-later
#include "photohistory.h"
#include "serverlimits.h"

#include <algorithm>

// From the clock at start, so that the newest id is a starting point even before any photo.
PhotoHistory::PhotoHistory()
    : m_lastId(QDateTime::currentMSecsSinceEpoch())
{
}

PhotoHistory::Photo PhotoHistory::add(const QString& room, const QString& image, const QString& message)
{
    // Milliseconds of the clock, one more than the last when photos come faster: ids still grow
    // after a restart with nothing written to disk, unless the clock is set back.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_lastId = std::max(m_lastId + 1, now.toMSecsSinceEpoch());
    const Photo photo{m_lastId, now, room, image, message};
    QList<Photo>& photos = m_rooms[room];
    photos.append(photo);
    m_roomOfImage.insert(image, room);
    if (photos.size() > ServerLimits::MAX_MISSED_PER_ROOM)
        m_roomOfImage.remove(photos.takeFirst().image);
    return photo;
}

void PhotoHistory::keep(const Photo& photo)
{
    m_lastId = std::max(m_lastId, photo.id);
    QList<Photo>& photos = m_rooms[photo.room];
    const auto at =
        std::find_if(photos.begin(), photos.end(), [&photo](const Photo& kept) { return kept.id >= photo.id; });
    if (at != photos.end() && at->id == photo.id)
        return;
    photos.insert(at, photo);
    m_roomOfImage.insert(photo.image, photo.room);
    if (photos.size() > ServerLimits::MAX_MISSED_PER_ROOM)
        m_roomOfImage.remove(photos.takeFirst().image);
}

void PhotoHistory::forget(const QString& image)
{
    const auto room = m_rooms.find(m_roomOfImage.take(image));
    if (room == m_rooms.end())
        return;
    room->removeIf([&image](const Photo& photo) { return photo.image == image; });
    if (room->isEmpty())
        m_rooms.erase(room);
}

QList<PhotoHistory::Photo> PhotoHistory::after(const QString& room, qint64 id) const
{
    const QList<Photo> photos = m_rooms.value(room);
    const auto first = std::find_if(photos.cbegin(), photos.cend(), [id](const Photo& photo) { return photo.id > id; });
    return QList<Photo>(first, photos.cend());
}
