#pragma once

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QTimer>

// The stored pictures: decoded and re-encoded on the way in, so only pixels are kept (no
// metadata, no trailing bytes); deleted when too old or when the folder passes its quota,
// oldest first.
class PictureStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_WIDTH = 3840;
    static constexpr int MAX_HEIGHT = 2160;
    // Largest decoded picture, in MiB; bigger ones are refused before their pixels are allocated.
    static constexpr int DECODE_LIMIT_MIB = 64;
    static constexpr int JPEG_QUALITY = 85;
    static constexpr int PRUNE_INTERVAL_MS = 10 * 60 * 1000;

    struct Encoded
    {
        QByteArray bytes; // empty when the upload is not a picture we read
        QString extension;
    };

    PictureStore(const QString& folder, int maxAgeHours, qint64 quotaBytes, QObject* parent = nullptr);

    // Safe to run on any thread.
    static Encoded reencode(const QByteArray& upload);
    // The path to serve it under, or an empty text when it could not be written.
    QString store(const Encoded& picture);
    // False when path names no stored picture.
    bool read(const QString& path, QByteArray& bytes, QByteArray& contentType) const;
    void prune();
    QString folder() const { return m_folder.absolutePath(); }

private:
    QDir m_folder;
    int m_maxAgeHours;
    qint64 m_quotaBytes;
    QTimer m_pruneTimer;
};
