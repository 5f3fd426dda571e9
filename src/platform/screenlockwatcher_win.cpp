// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/screenlockwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDebug>
#include <QWindow>

#include <windows.h>

#include <wtsapi32.h>

// Windows sends WM_WTSSESSION_CHANGE to the windows registered for it, so a hidden one is kept;
// the application's native event filter sees the notice on its way there.
struct ScreenLockWatcher::Platform : public QAbstractNativeEventFilter
{
    explicit Platform(ScreenLockWatcher* watcher)
        : m_watcher(watcher)
    {
        m_window.create();
        m_registered =
            WTSRegisterSessionNotification(reinterpret_cast<HWND>(m_window.winId()), NOTIFY_FOR_THIS_SESSION);
        if (!m_registered)
            qDebug() << "Écran verrouillé : le bureau ne le signale pas.";
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Platform() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (m_registered)
            WTSUnRegisterSessionNotification(reinterpret_cast<HWND>(m_window.winId()));
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override
    {
        Q_UNUSED(result);
        const MSG* msg = static_cast<const MSG*>(message);
        if (eventType != "windows_generic_MSG" || msg->hwnd != reinterpret_cast<HWND>(m_window.winId())
            || msg->message != WM_WTSSESSION_CHANGE)
            return false;
        if (msg->wParam == WTS_SESSION_LOCK || msg->wParam == WTS_SESSION_UNLOCK) {
            const bool locked = msg->wParam == WTS_SESSION_LOCK;
            QMetaObject::invokeMethod(
                m_watcher, [watcher = m_watcher, locked] { watcher->setActive(QStringLiteral("session"), locked); },
                Qt::QueuedConnection);
        }
        return false;
    }

    ScreenLockWatcher* m_watcher;
    QWindow m_window;
    bool m_registered = false;
};

// The program starts in an unlocked session: the user has just logged on.
ScreenLockWatcher::ScreenLockWatcher(QObject* parent)
    : BusyWatcher(parent)
    , m_platform(std::make_unique<Platform>(this))
{
}

ScreenLockWatcher::~ScreenLockWatcher() = default;

void ScreenLockWatcher::onFreedesktopSaverChanged(bool active)
{
    Q_UNUSED(active);
}

void ScreenLockWatcher::onGnomeSaverChanged(bool active)
{
    Q_UNUSED(active);
}
