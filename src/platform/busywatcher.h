// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// One way the desktop says its user is busy (a full-screen window, do-not-disturb, a locked
// screen). A state that cannot be read counts as not busy.
class BusyWatcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Asked as each photo comes; some systems only answer when asked.
    virtual bool isBusy() = 0;

signals:
    // The state may have changed; isBusy() says how it stands.
    void changed();
};
