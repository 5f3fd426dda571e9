// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictureheader.h"
#include "serverlimits.h"

namespace {

const QByteArray PNG_SIGNATURE("\x89PNG\r\n\x1a\n", 8);

quint32 bigEndian16(const QByteArray& bytes, qsizetype at)
{
    return quint32(quint8(bytes[at])) << 8 | quint8(bytes[at + 1]);
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    return bigEndian16(bytes, at) << 16 | bigEndian16(bytes, at + 2);
}

// From a PNG header's bit depth and colour type.
qint64 bitsPerPixel(const QByteArray& header, qsizetype at)
{
    const int depth = quint8(header[at + 8]);
    switch (quint8(header[at + 9])) {
    case 2:
        return 3 * depth;
    case 4:
        return 2 * depth;
    case 6:
        return 4 * depth;
    default:
        return depth;
    }
}

qint64 roundUp(qint64 value, qint64 step)
{
    return (value + step - 1) / step * step;
}

QString truncated(const QString& format)
{
    return QStringLiteral("%1 tronqué : il contient moins de données que sa taille n'en demande.").arg(format);
}

QString tooLarge(qint64 width, qint64 height)
{
    return QStringLiteral("Image trop grande pour être décodée : %1 × %2 pixels.").arg(width).arg(height);
}

// The bytes libjpeg's whole-image coefficient buffer takes for one frame, from its header
// (precision, height, width, components, then three bytes per component).
qint64 coefficientBytes(const QByteArray& frame, qsizetype at, int components)
{
    const qint64 height = bigEndian16(frame, at + 1);
    const qint64 width = bigEndian16(frame, at + 3);
    int maxH = 1;
    int maxV = 1;
    for (int i = 0; i < components; ++i) {
        maxH = qMax(maxH, quint8(frame[at + 7 + 3 * i]) >> 4);
        maxV = qMax(maxV, quint8(frame[at + 7 + 3 * i]) & 15);
    }
    qint64 bytes = 0;
    for (int i = 0; i < components; ++i) {
        const int h = qMax(1, quint8(frame[at + 7 + 3 * i]) >> 4);
        const int v = qMax(1, quint8(frame[at + 7 + 3 * i]) & 15);
        const qint64 blocksWide = roundUp((width * h + 8 * maxH - 1) / (8 * maxH), h);
        const qint64 blocksHigh = roundUp((height * v + 8 * maxV - 1) / (8 * maxV), v);
        bytes += blocksWide * blocksHigh * 64 * 2;
    }
    return bytes;
}

// Past the entropy-coded data that follows a scan header: the next marker that is neither a
// stuffed 0xFF nor a restart.
qsizetype afterScanData(const QByteArray& jpeg, qsizetype at)
{
    for (; at + 1 < jpeg.size(); ++at) {
        const quint8 next = quint8(jpeg[at + 1]);
        if (quint8(jpeg[at]) == 0xFF && next != 0 && next != 0xFF && (next < 0xD0 || next > 0xD7))
            return at;
    }
    return jpeg.size();
}

} // namespace

QString PictureHeader::refusal(const QByteArray& upload)
{
    if (upload.startsWith("\xFF\xD8"))
        return jpegRefusal(upload);
    if (upload.startsWith(PNG_SIGNATURE))
        return pngRefusal(upload);
    return QString();
}

QString PictureHeader::jpegRefusal(const QByteArray& jpeg)
{
    const QString unreadable = QStringLiteral("JPEG illisible.");
    qint64 width = 0;
    qint64 height = 0;
    bool progressive = false;
    qint64 coefficients = 0;
    int components = 0;
    int scans = 0;
    qint64 scanBytes = 0;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        if (quint8(jpeg[at]) != 0xFF)
            return unreadable;
        const quint8 marker = quint8(jpeg[at + 1]);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) // end of image
            break;
        const qsizetype length = bigEndian16(jpeg, at + 2);
        const qsizetype body = at + 4;
        if (length < 2 || at + 2 + length > jpeg.size())
            return unreadable;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            // Huffman-coded baseline, extended and progressive frames only, and only one of them.
            if (width || marker > 0xC2)
                return QStringLiteral("Ce type de JPEG n'est pas pris en charge.");
            components = length >= 8 ? quint8(jpeg[body + 5]) : 0;
            if (components < 1 || components > ServerLimits::MAX_JPEG_COMPONENTS || length < 8 + 3 * components)
                return unreadable;
            height = bigEndian16(jpeg, body + 1);
            width = bigEndian16(jpeg, body + 3);
            if (width == 0 || height == 0)
                return unreadable;
            if (width * height > ServerLimits::MAX_PIXELS)
                return tooLarge(width, height);
            progressive = marker == 0xC2;
            coefficients = coefficientBytes(jpeg, body, components);
        }
        at += 2 + length;
        if (marker == 0xDA) { // start of scan
            if (!width)
                return unreadable;
            if (++scans > ServerLimits::MAX_JPEG_SCANS)
                return QStringLiteral("JPEG en trop de passes (plus de %1).").arg(ServerLimits::MAX_JPEG_SCANS);
            // A first scan without every component means more scans to come: the buffer is
            // taken at once.
            const bool buffered = progressive || quint8(jpeg[body]) < components;
            if (buffered && coefficients > ServerLimits::MAX_COEFFICIENT_BYTES)
                return tooLarge(width, height);
            const qsizetype end = afterScanData(jpeg, at);
            scanBytes += end - at;
            at = end;
        }
    }
    if (!scans)
        return unreadable;
    // Every block costs at least one bit of its first scan: fewer bytes than that is a file cut
    // short, or one that only claims its size, which the decoder would still fill in whole.
    const qint64 blocks = coefficients / 128;
    return scanBytes * 8 < blocks ? truncated(QStringLiteral("JPEG")) : QString();
}

QString PictureHeader::pngRefusal(const QByteArray& png)
{
    const QString unreadable = QStringLiteral("PNG illisible.");
    qint64 metadata = 0;
    qint64 compressedMetadata = 0;
    qint64 rawBytes = 0;
    qint64 pixelData = 0;
    bool header = false;
    qsizetype at = PNG_SIGNATURE.size();
    while (at + 12 <= png.size()) {
        const qint64 length = bigEndian32(png, at);
        const QByteArray type = png.mid(at + 4, 4);
        if (length > png.size() - at - 12)
            break;
        if (!header) {
            if (type != "IHDR" || length != 13)
                return unreadable;
            const qint64 width = bigEndian32(png, at + 8);
            const qint64 height = bigEndian32(png, at + 12);
            const int bytesPerPixel = quint8(png[at + 16]) == 16 ? 8 : 4;
            if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
                return unreadable;
            if (width * height > ServerLimits::MAX_PIXELS
                || width * height * bytesPerPixel > ServerLimits::MAX_PNG_PIXEL_BYTES)
                return tooLarge(width, height);
            rawBytes = height * (1 + (width * bitsPerPixel(png, at + 8) + 7) / 8);
            header = true;
        }
        if (type == "IDAT")
            pixelData += length;
        if (type == "IEND")
            break;
        // Ancillary chunks have a lower-case first letter; all are dropped on re-encoding anyway.
        if (type[0] >= 'a' && type[0] <= 'z') {
            metadata += length;
            if (type == "zTXt" || type == "iTXt" || type == "iCCP")
                compressedMetadata += length;
            if (metadata > ServerLimits::MAX_PNG_METADATA_BYTES
                || compressedMetadata > ServerLimits::MAX_PNG_COMPRESSED_METADATA_BYTES)
                return QStringLiteral("PNG aux métadonnées trop volumineuses.");
        }
        at += 12 + length;
    }
    if (!header)
        return unreadable;
    // Deflate packs at most 1032 bytes into one: fewer bytes than that is a file cut short, or
    // one that only claims its size.
    return pixelData * MAX_DEFLATE_RATIO < rawBytes ? truncated(QStringLiteral("PNG")) : QString();
}
