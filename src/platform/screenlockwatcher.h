// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/busywatcher.h"

#include <QSet>
#include <QString>

#include <memory>

// Busy while the screen is locked or the screen saver runs: freedesktop's or GNOME's screen
// saver on the session bus (Linux), the session's lock notices (Windows).
class ScreenLockWatcher : public BusyWatcher
{
    Q_OBJECT

public:
    explicit ScreenLockWatcher(QObject* parent = nullptr);
    ~ScreenLockWatcher() override;

    bool isBusy() override { return !m_activeSavers.isEmpty(); }

private slots:
    // The session bus's signals, which Windows does not have.
    void onFreedesktopSaverChanged(bool active);
    void onGnomeSaverChanged(bool active);

private:
    void setActive(const QString& saver, bool active);

    struct Platform;
    std::unique_ptr<Platform> m_platform;
    QSet<QString> m_activeSavers;
};
