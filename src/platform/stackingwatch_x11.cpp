// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/stackingwatch.h"

#include "platform/x11display.h"

#include <cstdlib>

StackingWatch::StackingWatch(QObject* parent)
    : QObject(parent)
{
}

StackingWatch::~StackingWatch()
{
    setActive(false);
}

// Other programs' windows are children of the root window: watching its substructure shows
// each of them being mapped or restacked. The mask is this connection's own, so it is put back
// as it was.
void StackingWatch::setActive(bool active)
{
    xcb_connection_t* x11 = X11Display::connection();
    if (active == m_active || !x11)
        return;
    m_active = active;
    if (!active) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        xcb_change_window_attributes(x11, m_root, XCB_CW_EVENT_MASK, &m_savedMask);
        xcb_flush(x11);
        return;
    }
    m_root = X11Display::rootWindow(x11);
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(x11, xcb_get_window_attributes(x11, m_root), nullptr);
    m_savedMask = attributes ? attributes->your_event_mask : 0;
    std::free(attributes);
    const uint32_t mask = m_savedMask | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x11, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x11);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool StackingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(result);
    if (!m_active || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // Windows that bypass the window manager (the photos themselves, menus, tooltips) do not
    // count: raising above them would answer each raise with another.
    bool stacked = false;
    switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY: {
        const auto* map = static_cast<const xcb_map_notify_event_t*>(message);
        stacked = map->event == m_root && !map->override_redirect;
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = static_cast<const xcb_configure_notify_event_t*>(message);
        stacked = configure->event == m_root && !configure->override_redirect;
        break;
    }
    default:
        break;
    }
    if (stacked)
        emit changed();
    return false;
}
