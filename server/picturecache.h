// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

class PictureStore;

// The pictures being sent, held once however many read them at once: a new photo is fetched by
// all of its room together. Their total is bounded; past it a new picture is not read.
class PictureCache
{
public:
    enum class Outcome { Found, Missing, Full };

    explicit PictureCache(qint64 maxBytes);

    // The bytes are shared: a reader keeps them as long as it sends them.
    Outcome read(const PictureStore& store, const QString& path, QByteArray& bytes, QByteArray& contentType);

private:
    struct Entry
    {
        QByteArray bytes;
        QByteArray contentType;
    };
    void dropUnread();

    qint64 m_maxBytes;
    qint64 m_bytes = 0;
    QHash<QString, Entry> m_entries;
};
