// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/screenlockwatcher.h"

#include <QDebug>

void ScreenLockWatcher::setActive(const QString& saver, bool active)
{
    const bool before = isBusy();
    if (active)
        m_activeSavers.insert(saver);
    else
        m_activeSavers.remove(saver);
    if (isBusy() == before)
        return;
    qDebug() << (isBusy() ? "Écran verrouillé : photos retenues." : "Écran déverrouillé.");
    emit changed();
}
