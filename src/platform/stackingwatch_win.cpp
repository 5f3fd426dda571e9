// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/stackingwatch.h"

// Windows keeps a topmost window above every other that is not topmost itself: nothing to watch.

StackingWatch::StackingWatch(QObject* parent)
    : QObject(parent)
{
}

StackingWatch::~StackingWatch() = default;

void StackingWatch::setActive(bool active)
{
    m_active = active;
}

bool StackingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    Q_UNUSED(result);
    return false;
}
