// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/escapekeygrab.h"

#include <windows.h>

namespace {

// Any id of the application's own range (0x0000 to 0xBFFF).
constexpr int HOT_KEY_ID = 0x4744;

} // namespace

bool EscapeKeyGrab::grab()
{
    // Without a window the hot key is posted to this thread's queue, which Qt's event loop reads.
    if (!RegisterHotKey(nullptr, HOT_KEY_ID, MOD_NOREPEAT, VK_ESCAPE)) {
        warnHeldElsewhere();
        return false;
    }
    m_key = HOT_KEY_ID;
    return true;
}

void EscapeKeyGrab::release()
{
    if (m_key != 0)
        UnregisterHotKey(nullptr, int(m_key));
    m_key = 0;
}

bool EscapeKeyGrab::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(result);
    if (m_key == 0 || eventType != "windows_generic_MSG")
        return false;
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_HOTKEY || msg->wParam != WPARAM(m_key))
        return false;
    emit pressed();
    return true;
}
