// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sleepwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWindow>

#include <windows.h>

// Windows sends WM_POWERBROADCAST to top-level windows only, so a hidden one is kept to receive
// it; the application's native event filter sees it on its way to that window.
struct SleepWatcher::Platform : public QAbstractNativeEventFilter
{
    explicit Platform(SleepWatcher* watcher)
        : m_watcher(watcher)
    {
        m_window.create();
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Platform() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override
    {
        Q_UNUSED(result);
        const MSG* msg = static_cast<const MSG*>(message);
        if (eventType == "windows_generic_MSG" && msg->hwnd == reinterpret_cast<HWND>(m_window.winId())
            && msg->message == WM_POWERBROADCAST && msg->wParam == PBT_APMRESUMEAUTOMATIC)
            QMetaObject::invokeMethod(
                m_watcher, [watcher = m_watcher] { emit watcher->resumed(); }, Qt::QueuedConnection);
        return false;
    }

    SleepWatcher* m_watcher;
    QWindow m_window;
};

SleepWatcher::SleepWatcher(QObject* parent)
    : QObject(parent)
    , m_platform(std::make_unique<Platform>(this))
{
}

SleepWatcher::~SleepWatcher() = default;

// logind's signal, which Windows does not have.
void SleepWatcher::onPrepareForSleep(bool sleeping)
{
    Q_UNUSED(sleeping);
}
