// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/escapekeygrab.h"

#include <QCoreApplication>
#include <QDebug>

// The grab itself is the platform's (grab(), release() and the filter); holding it only while
// active is the same everywhere.
EscapeKeyGrab::EscapeKeyGrab(QObject* parent)
    : QObject(parent)
{
}

EscapeKeyGrab::~EscapeKeyGrab()
{
    release();
}

void EscapeKeyGrab::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    if (!active) {
        release();
        QCoreApplication::instance()->removeNativeEventFilter(this);
        return;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    grab();
}

void EscapeKeyGrab::warnHeldElsewhere()
{
    qWarning() << "La touche Échap est déjà prise par un autre programme : elle ne masquera pas les photos";
}
