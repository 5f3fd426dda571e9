// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/photo.h"

#include <QList>
#include <QObject>

#include <optional>

// The last photos received, newest first, whether shown, held or hidden at once: addresses and
// texts only, never pictures, so what it holds stays small.
class RecentPhotos : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_PHOTOS = 10;

    struct Entry
    {
        Photo photo;
        bool seen = false;
        bool expired = false; // the server no longer had the picture
    };

    explicit RecentPhotos(QObject* parent = nullptr);

    // Gives the photo its entry, unseen unless told, and returns the entry's id.
    int add(Photo photo, bool seen = false);
    std::optional<Photo> find(int id) const;
    void markSeen(int id);
    void markAllSeen();
    void markExpired(int id);

    const QList<Entry>& entries() const { return m_entries; }
    int unseenCount() const;

signals:
    void changed();

private:
    Entry* entry(int id);

    QList<Entry> m_entries;
    int m_lastId = 0;
};
