// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QSize>

class QThreadPool;

// Turns a photo's bytes into the picture the overlay shows, already at the size it is shown
// at, away from the event loop: a JPEG larger than the screen is decoded straight to the
// screen's size, so it costs what the screen holds rather than what the camera took.
class PictureDecoder
{
public:
    // Runs on one of the pool's threads. The result is null when the bytes are no picture.
    static QFuture<QImage> start(QThreadPool* pool, const QByteArray& bytes, const QSize& screenSize);

private:
    static QImage decode(const QByteArray& bytes, const QSize& screenSize);
    static bool withinAllocationLimit(const QSize& size, QImage::Format format);
};
