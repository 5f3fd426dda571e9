// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/escapekeygrab.h"

#include "platform/x11display.h"

#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <iterator>

namespace {

using X11Display::connection;
using X11Display::rootWindow;

constexpr xcb_keysym_t ESCAPE_KEYSYM = 0xff1b;
// NumLock (Mod2) and CapsLock do not change Escape, but a grab matches modifiers exactly:
// one grab for each state of the two locks.
constexpr uint16_t LOCK_STATES[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

xcb_keycode_t escapeKeycode(xcb_connection_t* connection)
{
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    if (!symbols)
        return XCB_NO_SYMBOL;
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, ESCAPE_KEYSYM);
    const xcb_keycode_t code = codes ? codes[0] : xcb_keycode_t(XCB_NO_SYMBOL);
    std::free(codes);
    xcb_key_symbols_free(symbols);
    return code;
}

void ungrab(xcb_connection_t* connection, xcb_keycode_t code)
{
    for (const uint16_t state : LOCK_STATES)
        xcb_ungrab_key(connection, code, rootWindow(connection), state);
    xcb_flush(connection);
}

} // namespace

bool EscapeKeyGrab::grab()
{
    xcb_connection_t* x11 = connection();
    const xcb_keycode_t code = x11 ? escapeKeycode(x11) : xcb_keycode_t(XCB_NO_SYMBOL);
    if (code == XCB_NO_SYMBOL)
        return false;
    xcb_void_cookie_t cookies[std::size(LOCK_STATES)];
    for (size_t i = 0; i < std::size(LOCK_STATES); ++i) {
        cookies[i] = xcb_grab_key_checked(x11, 0, rootWindow(x11), LOCK_STATES[i], code, XCB_GRAB_MODE_ASYNC,
                                          XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        xcb_generic_error_t* error = xcb_request_check(x11, cookie);
        refused = refused || error;
        std::free(error);
    }
    if (refused) {
        ungrab(x11, code);
        warnHeldElsewhere();
        return false;
    }
    m_key = code;
    return true;
}

void EscapeKeyGrab::release()
{
    // Once the application is gone its connection is closed, and the grab with it.
    xcb_connection_t* x11 = connection();
    if (m_key != 0 && x11)
        ungrab(x11, xcb_keycode_t(m_key));
    m_key = 0;
}

bool EscapeKeyGrab::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(result);
    if (m_key == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    if (key->detail != m_key)
        return false;
    emit pressed();
    return true;
}
