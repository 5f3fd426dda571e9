// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <QObject>
#include <QTimer>

// The stored pictures: decoded and re-encoded on the way in, so only pixels are kept (no
// metadata, no trailing bytes); deleted when too old or when the folder passes its quota,
// oldest first. The folder is listed once, at start; from then on the store keeps its own
// account of what it holds.
class PictureStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int JPEG_QUALITY = 85;
    static constexpr int PRUNE_INTERVAL_MS = 10 * 60 * 1000;

    struct Encoded
    {
        QByteArray bytes; // empty when the upload is not a picture we read
        QString extension;
        QString refusal; // when bytes is empty: why, for the uploader, if known
    };

    PictureStore(const QString& folder, int maxAgeHours, qint64 quotaBytes, QObject* parent = nullptr);

    // Safe to run on any thread; decodes, so the decode worker runs it, not the server.
    static Encoded reencode(const QByteArray& upload);
    // False when the picture alone is larger than the quota.
    bool fits(const Encoded& picture) const { return picture.bytes.size() <= m_quotaBytes; }
    // The path to serve it under, or an empty text when it could not be written.
    QString store(const Encoded& picture);
    // False when path names no stored picture.
    bool read(const QString& path, QByteArray& bytes, QByteArray& contentType) const;
    void prune();
    // Lists the folder anew, for one that other instances share: their pictures count towards the
    // quota, and the ones they deleted are gone here too.
    void rescan();
    bool contains(const QString& path) const;
    QString folder() const { return m_folder.absolutePath(); }

signals:
    // The picture served under path is gone.
    void removed(const QString& path);

private:
    struct Stored
    {
        QString name;
        qint64 bytes;
        QDateTime time;
    };
    void listFolder();

    QDir m_folder;
    int m_maxAgeHours;
    qint64 m_quotaBytes;
    QList<Stored> m_stored; // oldest first
    qint64 m_storedBytes = 0;
    QTimer m_pruneTimer;
};
