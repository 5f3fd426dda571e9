// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/donotdisturbwatcher.h"

#include <QDebug>

void DoNotDisturbWatcher::setInhibited(bool inhibited)
{
    update(m_inhibited, inhibited);
}

void DoNotDisturbWatcher::setBannersOff(bool off)
{
    update(m_bannersOff, off);
}

void DoNotDisturbWatcher::update(bool& state, bool value)
{
    const bool before = isBusy();
    state = value;
    if (isBusy() == before)
        return;
    qDebug() << (isBusy() ? "Ne pas déranger : photos retenues." : "Ne pas déranger terminé.");
    emit changed();
}
