// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/recentphotos.h"

#include <algorithm>

RecentPhotos::RecentPhotos(QObject* parent)
    : QObject(parent)
{
}

int RecentPhotos::add(Photo photo, bool seen)
{
    photo.recentId = ++m_lastId;
    m_entries.prepend({photo, seen, false});
    if (m_entries.size() > MAX_PHOTOS)
        m_entries.removeLast();
    emit changed();
    return photo.recentId;
}

std::optional<Photo> RecentPhotos::find(int id) const
{
    for (const Entry& each : m_entries) {
        if (each.photo.recentId == id)
            return each.photo;
    }
    return std::nullopt;
}

RecentPhotos::Entry* RecentPhotos::entry(int id)
{
    for (Entry& each : m_entries) {
        if (each.photo.recentId == id)
            return &each;
    }
    return nullptr;
}

void RecentPhotos::markSeen(int id)
{
    Entry* found = entry(id);
    if (!found || (found->seen && !found->expired))
        return;
    found->seen = true;
    found->expired = false;
    emit changed();
}

void RecentPhotos::markAllSeen()
{
    if (unseenCount() == 0)
        return;
    for (Entry& each : m_entries)
        each.seen = true;
    emit changed();
}

void RecentPhotos::markExpired(int id)
{
    Entry* found = entry(id);
    if (!found || found->expired)
        return;
    found->expired = true;
    emit changed();
}

int RecentPhotos::unseenCount() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& each) { return !each.seen; }));
}
