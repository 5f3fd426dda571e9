// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fullscreenwatcher.h"

#include "platform/x11display.h"

#include <QAbstractNativeEventFilter>
#include <QDebug>
#include <QRect>
#include <QScreen>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t atom(xcb_connection_t* x11, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

// The property's 32-bit items, none when the window or the property is gone.
QList<quint32> windowProperty(xcb_connection_t* x11, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(x11, xcb_get_property(x11, 0, window, name, type, 0, 64), &error);
    QList<quint32> items;
    if (reply && reply->format == 32) {
        const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply));
        items = QList<quint32>(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    std::free(error);
    return items;
}

// The window's place in physical pixels, empty when it is gone. Errors are taken here, so that a
// window that has just closed does not reach the log as an X error.
QRect placeOnRoot(xcb_connection_t* x11, xcb_window_t window, xcb_window_t root)
{
    xcb_generic_error_t* errors[2] = {nullptr, nullptr};
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(x11, xcb_get_geometry(x11, window), &errors[0]);
    xcb_translate_coordinates_reply_t* origin =
        xcb_translate_coordinates_reply(x11, xcb_translate_coordinates(x11, window, root, 0, 0), &errors[1]);
    QRect place;
    if (geometry && origin)
        place = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    std::free(geometry);
    std::free(origin);
    std::free(errors[0]);
    std::free(errors[1]);
    return place;
}

// Sets this connection's event mask on a window and reports whether the window was there.
bool setEventMask(xcb_connection_t* x11, xcb_window_t window, uint32_t mask)
{
    xcb_generic_error_t* error =
        xcb_request_check(x11, xcb_change_window_attributes_checked(x11, window, XCB_CW_EVENT_MASK, &mask));
    std::free(error);
    return !error;
}

uint32_t eventMask(xcb_connection_t* x11, xcb_window_t window)
{
    xcb_generic_error_t* error = nullptr;
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(x11, xcb_get_window_attributes(x11, window), &error);
    const uint32_t mask = attributes ? attributes->your_event_mask : 0;
    std::free(attributes);
    std::free(error);
    return mask;
}

} // namespace

// Follows _NET_ACTIVE_WINDOW on the root window, then that window's _NET_WM_STATE. The event
// masks are this connection's own: each is put back as it was, since Qt's windows rely on theirs.
struct FullScreenWatcher::Platform : public QAbstractNativeEventFilter
{
    explicit Platform(FullScreenWatcher* watcher, xcb_connection_t* x11)
        : m_watcher(watcher)
        , m_x11(x11)
        , m_root(X11Display::rootWindow(x11))
        , m_activeAtom(atom(x11, "_NET_ACTIVE_WINDOW"))
        , m_stateAtom(atom(x11, "_NET_WM_STATE"))
        , m_fullScreenAtom(atom(x11, "_NET_WM_STATE_FULLSCREEN"))
        , m_rootMask(eventMask(x11, m_root))
    {
        setEventMask(x11, m_root, m_rootMask | XCB_EVENT_MASK_PROPERTY_CHANGE);
        QCoreApplication::instance()->installNativeEventFilter(this);
        followActiveWindow();
    }

    ~Platform() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        if (!X11Display::connection())
            return;
        setEventMask(m_x11, m_root, m_rootMask);
        unfollow();
        xcb_flush(m_x11);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override
    {
        Q_UNUSED(result);
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
        if (change->window == m_root && change->atom == m_activeAtom)
            followActiveWindow();
        else if (change->window == m_active && change->atom == m_stateAtom)
            evaluate();
        return false;
    }

    void followActiveWindow()
    {
        const QList<quint32> active = windowProperty(m_x11, m_root, m_activeAtom, XCB_ATOM_WINDOW);
        const xcb_window_t window = active.isEmpty() ? xcb_window_t(XCB_WINDOW_NONE) : active.first();
        if (window != m_active) {
            unfollow();
            m_active = window;
            m_activeMask = m_active ? eventMask(m_x11, m_active) : 0;
            if (m_active && !setEventMask(m_x11, m_active, m_activeMask | XCB_EVENT_MASK_PROPERTY_CHANGE))
                m_active = XCB_WINDOW_NONE;
        }
        evaluate();
    }

    void unfollow()
    {
        if (m_active)
            setEventMask(m_x11, m_active, m_activeMask);
        m_active = XCB_WINDOW_NONE;
    }

    void evaluate()
    {
        const bool busy = m_active
                          && windowProperty(m_x11, m_active, m_stateAtom, XCB_ATOM_ATOM).contains(m_fullScreenAtom)
                          && coversPrimaryScreen(m_active);
        if (busy == m_busy)
            return;
        m_busy = busy;
        qDebug() << (busy ? "Plein écran : photos retenues." : "Plein écran terminé.");
        emit m_watcher->changed();
    }

    bool coversPrimaryScreen(xcb_window_t window) const
    {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QRect place = placeOnRoot(m_x11, window, m_root);
        if (!screen || place.isEmpty())
            return false;
        const qreal ratio = screen->devicePixelRatio();
        const QRect primary(screen->geometry().topLeft() * ratio, screen->geometry().size() * ratio);
        return primary.intersects(place);
    }

    FullScreenWatcher* m_watcher;
    xcb_connection_t* m_x11;
    xcb_window_t m_root;
    xcb_atom_t m_activeAtom;
    xcb_atom_t m_stateAtom;
    xcb_atom_t m_fullScreenAtom;
    uint32_t m_rootMask;
    xcb_window_t m_active = XCB_WINDOW_NONE;
    uint32_t m_activeMask = 0;
    bool m_busy = false;
};

FullScreenWatcher::FullScreenWatcher(QObject* parent)
    : BusyWatcher(parent)
{
    xcb_connection_t* x11 = X11Display::connection();
    if (!x11) {
        qDebug() << "Plein écran : le système ne le signale pas, les photos ne l'attendent pas.";
        return;
    }
    m_platform = std::make_unique<Platform>(this, x11);
}

FullScreenWatcher::~FullScreenWatcher() = default;

bool FullScreenWatcher::isBusy()
{
    return m_platform && m_platform->m_busy;
}
