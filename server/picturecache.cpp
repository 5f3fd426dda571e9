// SPDX-License-Identifier: GPL-3.0-or-later
#include "picturecache.h"

#include "picturestore.h"

PictureCache::PictureCache(qint64 maxBytes)
    : m_maxBytes(maxBytes)
{
}

PictureCache::Outcome PictureCache::read(const PictureStore& store, const QString& path, QByteArray& bytes,
                                         QByteArray& contentType)
{
    // A picture no reader holds is read again, so one deleted meanwhile is not served.
    dropUnread();
    if (const auto it = m_entries.constFind(path); it != m_entries.cend()) {
        bytes = it->bytes;
        contentType = it->contentType;
        return Outcome::Found;
    }
    Entry entry;
    if (!store.read(path, entry.bytes, entry.contentType))
        return Outcome::Missing;
    if (m_bytes + entry.bytes.size() > m_maxBytes)
        return Outcome::Full;
    m_bytes += entry.bytes.size();
    bytes = entry.bytes;
    contentType = entry.contentType;
    m_entries.insert(path, entry);
    return Outcome::Found;
}

// Pictures that no reader shares any more; the table holds only pictures being sent, so it stays small.
void PictureCache::dropUnread()
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->bytes.isDetached()) {
            m_bytes -= it->bytes.size();
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}
