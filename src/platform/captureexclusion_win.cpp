// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/captureexclusion.h"

#include <QDebug>
#include <QWidget>

#include <windows.h>

#ifndef WDA_EXCLUDEFROMCAPTURE
#define WDA_EXCLUDEFROMCAPTURE 0x00000011
#endif

// Older systems refuse the value; the photo is shown all the same.
void CaptureExclusion::exclude(QWidget* window)
{
    if (!SetWindowDisplayAffinity(reinterpret_cast<HWND>(window->winId()), WDA_EXCLUDEFROMCAPTURE))
        qDebug() << "Capture d'écran : ce système ne permet pas d'en exclure les photos.";
}
