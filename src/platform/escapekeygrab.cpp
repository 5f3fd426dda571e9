#include "platform/escapekeygrab.h"

#include <QCoreApplication>

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
