// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Keeps a window out of screen captures, shared screens and recordings, where the system can
// (Windows 10 2004 and later). X11 has no such thing: there photos wait while the screen is busy.
namespace CaptureExclusion {

void exclude(QWidget* window);

} // namespace CaptureExclusion
