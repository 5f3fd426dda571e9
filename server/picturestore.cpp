// SPDX-License-Identifier: GPL-3.0-or-later
#include "picturestore.h"
#include "serverlimits.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

namespace {

// Stored names are made here and nothing else is served, so no path can leave the folder.
const QRegularExpression STORED_PATH(QStringLiteral("^/images/([0-9a-f]{32})\\.(png|jpg)$"));

// The size to decode at: the picture as shown (orientation applied) fits the box lying the same way.
QSize decodeSize(const QImageReader& reader)
{
    QSize size = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    if (turned)
        size.transpose();
    QSize box(ServerLimits::MAX_PICTURE_WIDTH, ServerLimits::MAX_PICTURE_HEIGHT);
    if (size.height() > size.width())
        box.transpose();
    if (size.width() > box.width() || size.height() > box.height())
        size = size.scaled(box, Qt::KeepAspectRatio);
    if (turned)
        size.transpose();
    return size;
}

// The pixels alone: no text chunks, comments or colour profile come along.
QImage pixelsOf(QImage image)
{
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace::SRgb)
        image.convertToColorSpace(QColorSpace::SRgb);
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    image = image.convertToFormat(format);
    return QImage(image.constBits(), image.width(), image.height(), image.bytesPerLine(), format).copy();
}

} // namespace

PictureStore::PictureStore(const QString& folder, int maxAgeHours, qint64 quotaBytes, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
    , m_maxAgeHours(maxAgeHours)
    , m_quotaBytes(quotaBytes)
{
    m_folder.mkpath(QStringLiteral("."));
    listFolder();
    connect(&m_pruneTimer, &QTimer::timeout, this, &PictureStore::prune);
    m_pruneTimer.start(PRUNE_INTERVAL_MS);
    prune();
}

PictureStore::Encoded PictureStore::reencode(const QByteArray& upload)
{
    QByteArray data = upload;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    static const QList<QByteArray> accepted{"png", "jpeg", "gif", "bmp", "webp"};
    if (!accepted.contains(reader.format()) || !reader.size().isValid())
        return {};
    reader.setScaledSize(decodeSize(reader));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    const QImage pixels = pixelsOf(image);
    Encoded result;
    result.extension = pixels.hasAlphaChannel() ? QStringLiteral("png") : QStringLiteral("jpg");
    QBuffer out(&result.bytes);
    out.open(QIODevice::WriteOnly);
    QImageWriter writer(&out, pixels.hasAlphaChannel() ? "png" : "jpeg");
    writer.setQuality(pixels.hasAlphaChannel() ? -1 : JPEG_QUALITY);
    if (!writer.write(pixels))
        result.bytes.clear();
    return result;
}

QString PictureStore::store(const Encoded& picture)
{
    // The address is all that keeps a picture private: 128 bits from the system's generator (a
    // random UUID has only 122).
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    const QString name = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex())
                         + QLatin1Char('.') + picture.extension;
    QSaveFile file(m_folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(picture.bytes) != picture.bytes.size() || !file.commit()) {
        qWarning().noquote() << "Enregistrement impossible :" << file.fileName() << file.errorString();
        return QString();
    }
    m_stored.append({name, picture.bytes.size(), QDateTime::currentDateTimeUtc()});
    m_storedBytes += picture.bytes.size();
    prune();
    return QStringLiteral("/images/") + name;
}

bool PictureStore::read(const QString& path, QByteArray& bytes, QByteArray& contentType) const
{
    const QRegularExpressionMatch match = STORED_PATH.match(path);
    if (!match.hasMatch())
        return false;
    QFile file(m_folder.filePath(match.captured(1) + QLatin1Char('.') + match.captured(2)));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    contentType = match.captured(2) == QLatin1String("png") ? "image/png" : "image/jpeg";
    return true;
}

bool PictureStore::contains(const QString& path) const
{
    const QRegularExpressionMatch match = STORED_PATH.match(path);
    return match.hasMatch() && m_folder.exists(match.captured(1) + QLatin1Char('.') + match.captured(2));
}

void PictureStore::rescan()
{
    const QList<Stored> before = std::exchange(m_stored, {});
    m_storedBytes = 0;
    listFolder();
    QSet<QString> now;
    for (const Stored& stored : std::as_const(m_stored))
        now.insert(stored.name);
    for (const Stored& stored : before) {
        if (!now.contains(stored.name))
            emit removed(QStringLiteral("/images/") + stored.name);
    }
    prune();
}

void PictureStore::listFolder()
{
    const QFileInfoList files = m_folder.entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.png")}, QDir::Files,
                                                       QDir::Time | QDir::Reversed);
    for (const QFileInfo& info : files) {
        m_stored.append({info.fileName(), info.size(), info.lastModified().toUTC()});
        m_storedBytes += info.size();
    }
}

void PictureStore::prune()
{
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addSecs(-qint64(m_maxAgeHours) * 3600);
    while (!m_stored.isEmpty()
           && (m_storedBytes > m_quotaBytes || m_stored.size() > ServerLimits::MAX_STORED_PICTURES
               || m_stored.first().time < oldest)) {
        const Stored gone = m_stored.takeFirst();
        m_storedBytes -= gone.bytes;
        if (m_folder.remove(gone.name))
            qDebug().noquote() << "Image supprimée :" << gone.name;
        emit removed(QStringLiteral("/images/") + gone.name);
    }
}
