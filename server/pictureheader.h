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
    // What deflate can pack into one byte at best: a PNG's pixel data is never smaller than its
    // pixels divided by this.
    static constexpr qint64 MAX_DEFLATE_RATIO = 1032;

    // Empty when the upload may be decoded; otherwise why not, for the uploader.
    static QString refusal(const QByteArray& upload);

private:
    static QString jpegRefusal(const QByteArray& jpeg);
    static QString pngRefusal(const QByteArray& png);
};
