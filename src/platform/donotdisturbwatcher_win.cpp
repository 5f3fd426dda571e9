// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/donotdisturbwatcher.h"

#include <QDebug>

// Focus Assist has no documented interface: do-not-disturb counts as off.
struct DoNotDisturbWatcher::Platform
{};

DoNotDisturbWatcher::DoNotDisturbWatcher(QObject* parent)
    : BusyWatcher(parent)
{
    qDebug() << "Ne pas déranger : Windows ne le signale pas.";
}

DoNotDisturbWatcher::~DoNotDisturbWatcher() = default;

void DoNotDisturbWatcher::askInhibited(bool atStart)
{
    Q_UNUSED(atStart);
}

void DoNotDisturbWatcher::onNotificationsChanged(const QString& interface, const QVariantMap& changed,
                                                 const QStringList& invalidated)
{
    Q_UNUSED(interface);
    Q_UNUSED(changed);
    Q_UNUSED(invalidated);
}
