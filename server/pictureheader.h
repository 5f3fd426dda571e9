// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// What a JPEG or PNG upload claims about itself, read from its headers without decoding it:
// a picture whose decoding would need more memory or time than the bounds below is refused
// before any decoder sees it. Other formats pass unread; the decode worker's own limits
// contain them.
class PictureHeader
{
public:
    static constexpr qint64 MIB = 1024 * 1024;
    // Every format: the pixels a picture may claim (a 100-megapixel camera still passes).
    static constexpr qint64 MAX_PIXELS = 100 * 1000 * 1000;
    // A JPEG in several scans (progressive, or one scan per colour) is held whole as DCT
    // coefficients while it decodes, two bytes for each sample of each component.
    static constexpr qint64 MAX_COEFFICIENT_BYTES = 48 * MIB;
    // Each scan walks every coefficient again; cameras write up to about a dozen.
    static constexpr int MAX_JPEG_SCANS = 64;
    static constexpr int MAX_JPEG_COMPONENTS = 4;
    // A PNG is decoded whole, four bytes a pixel, eight at 16 bits a channel.
    static constexpr qint64 MAX_PNG_PIXEL_BYTES = 64 * MIB;
    // Compressed text and colour-profile chunks are inflated by the decoder: about a thousand
    // times their size at worst.
    static constexpr qint64 MAX_PNG_COMPRESSED_METADATA_BYTES = 16 * 1024;
    static constexpr qint64 MAX_PNG_METADATA_BYTES = 1 * MIB;
    // What deflate can pack into one byte at best: a PNG's pixel data is never smaller than its
    // pixels divided by this.
    static constexpr qint64 MAX_DEFLATE_RATIO = 1032;

    // Empty when the upload may be decoded; otherwise why not, for the uploader.
    static QString refusal(const QByteArray& upload);

private:
    static QString jpegRefusal(const QByteArray& jpeg);
    static QString pngRefusal(const QByteArray& png);
};
