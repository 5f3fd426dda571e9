// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/screenlockwatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>

namespace {

struct Saver
{
    const char* service; // also its interface's name
    const char* path;
    const char* slot;
};
const Saver SAVERS[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", SLOT(onFreedesktopSaverChanged(bool))},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", SLOT(onGnomeSaverChanged(bool))},
};

} // namespace

// The savers still to answer at start, so that one line says when none could.
struct ScreenLockWatcher::Platform
{
    int unanswered = 0;
    int answered = 0;
};

ScreenLockWatcher::ScreenLockWatcher(QObject* parent)
    : BusyWatcher(parent)
    , m_platform(std::make_unique<Platform>())
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qDebug() << "Écran verrouillé : le bureau ne le signale pas.";
        return;
    }
    for (const Saver& saver : SAVERS) {
        const QString service = QString::fromLatin1(saver.service);
        const QString path = QString::fromLatin1(saver.path);
        // QtDBus connects a bus signal only by signature.
        bus.connect(service, path, service, QStringLiteral("ActiveChanged"), this, saver.slot);
        const QDBusMessage ask = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive"));
        auto* reply = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
        ++m_platform->unanswered;
        connect(reply, &QDBusPendingCallWatcher::finished, this, [this, service](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<bool> active = *call;
            call->deleteLater();
            if (active.isValid()) {
                ++m_platform->answered;
                setActive(service, active.value());
            }
            if (--m_platform->unanswered == 0 && m_platform->answered == 0)
                qDebug() << "Écran verrouillé : le bureau ne le signale pas.";
        });
    }
}

ScreenLockWatcher::~ScreenLockWatcher() = default;

void ScreenLockWatcher::onFreedesktopSaverChanged(bool active)
{
    setActive(QString::fromLatin1(SAVERS[0].service), active);
}

void ScreenLockWatcher::onGnomeSaverChanged(bool active)
{
    setActive(QString::fromLatin1(SAVERS[1].service), active);
}
