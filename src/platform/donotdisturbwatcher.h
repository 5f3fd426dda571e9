// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/busywatcher.h"

#include <QStringList>
#include <QVariantMap>

#include <memory>

// Busy while the desktop's do-not-disturb is on: the notification service's Inhibited property
// on the session bus (KDE also sets it while the screen is shared), or GNOME's show-banners key
// set to false. Windows documents no such state: there it is never busy.
class DoNotDisturbWatcher : public BusyWatcher
{
    Q_OBJECT

public:
    explicit DoNotDisturbWatcher(QObject* parent = nullptr);
    ~DoNotDisturbWatcher() override;

    bool isBusy() override { return m_inhibited || m_bannersOff; }

private slots:
    // The session bus's signal, which Windows does not have.
    void onNotificationsChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void askInhibited(bool atStart);
    void setInhibited(bool inhibited);
    void setBannersOff(bool off);
    void update(bool& state, bool value);

    struct Platform;
    std::unique_ptr<Platform> m_platform;
    bool m_inhibited = false;
    bool m_bannersOff = false;
};
