// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/picturedecoder.h"

#include "core/overlay.h"

#include <QBuffer>
#include <QImageReader>
#include <QtConcurrent/QtConcurrentRun>

QFuture<QImage> PictureDecoder::start(QThreadPool* pool, const QByteArray& bytes, const QSize& screenSize)
{
    return QtConcurrent::run(pool, &PictureDecoder::decode, bytes, screenSize);
}

QImage PictureDecoder::decode(const QByteArray& bytes, const QSize& screenSize)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid()) {
        // A picture read smaller is no longer held to the bound of its declared size.
        if (!withinAllocationLimit(size, reader.imageFormat()))
            return QImage();
        reader.setScaledSize(Overlay::shownSize(size, screenSize));
    }
    QImage image = reader.read();
    if (image.isNull())
        return image;
    // In the screen's own formats, so that making it a pixmap on the event loop copies nothing.
    const QImage::Format format = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    return std::move(image).convertToFormat(format);
}

// The image reader's bound, applied to the size the picture declares as it would be to a full decode.
bool PictureDecoder::withinAllocationLimit(const QSize& size, QImage::Format format)
{
    const int limitMiB = QImageReader::allocationLimit();
    if (limitMiB <= 0)
        return true;
    const int bitsPerPixel = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    const qint64 bytesPerLine = (qint64(size.width()) * bitsPerPixel + 31) / 32 * 4;
    return bytesPerLine * size.height() <= qint64(limitMiB) * 1024 * 1024;
}
