// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fullscreenwatcher.h"

#include <QTimer>

#include <windows.h>

#include <shellapi.h>

// Windows sends no notice when a program leaves full screen or a presentation ends: while the
// state holds, it is asked again at this pace, so that held photos come once it is over.
namespace {

constexpr int POLL_INTERVAL_MS = 2000;

// QUNS_BUSY is left out on purpose: it is reported for windows that are not full screen.
bool askSystem()
{
    QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
    if (FAILED(SHQueryUserNotificationState(&state)))
        return false;
    return state == QUNS_RUNNING_D3D_FULL_SCREEN || state == QUNS_PRESENTATION_MODE;
}

} // namespace

struct FullScreenWatcher::Platform
{
    QTimer poll;
    bool busy = false;
};

FullScreenWatcher::FullScreenWatcher(QObject* parent)
    : BusyWatcher(parent)
    , m_platform(std::make_unique<Platform>())
{
    m_platform->poll.setInterval(POLL_INTERVAL_MS);
    connect(&m_platform->poll, &QTimer::timeout, this, [this] {
        if (isBusy())
            return;
        emit changed();
    });
}

FullScreenWatcher::~FullScreenWatcher() = default;

bool FullScreenWatcher::isBusy()
{
    m_platform->busy = askSystem();
    if (m_platform->busy)
        m_platform->poll.start();
    else
        m_platform->poll.stop();
    return m_platform->busy;
}
