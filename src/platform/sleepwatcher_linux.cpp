// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sleepwatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDebug>

namespace {

const QString LOGIND_SERVICE = QStringLiteral("org.freedesktop.login1");

} // namespace

struct SleepWatcher::Platform
{};

SleepWatcher::SleepWatcher(QObject* parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(LOGIND_SERVICE)) {
        qDebug() << "Veille : le système ne signale pas la sortie de veille.";
        return;
    }
    // QtDBus connects a bus signal only by signature.
    bus.connect(LOGIND_SERVICE, QStringLiteral("/org/freedesktop/login1"),
                QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                SLOT(onPrepareForSleep(bool)));
}

SleepWatcher::~SleepWatcher() = default;

void SleepWatcher::onPrepareForSleep(bool sleeping)
{
    if (!sleeping)
        emit resumed();
}
