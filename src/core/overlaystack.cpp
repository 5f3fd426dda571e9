// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlaystack.h"

#include "core/overlay.h"

#include <QEvent>
#include <QTimer>

OverlayStack::OverlayStack(QObject* parent)
    : QObject(parent)
{
    // Queued: the key arrives inside the window system's event handling.
    connect(&m_escapeKey, &EscapeKeyGrab::pressed, this, &OverlayStack::onEscapePressed, Qt::QueuedConnection);
    connect(&m_stackingWatch, &StackingWatch::changed, this, &OverlayStack::onStackingChanged);
}

void OverlayStack::add(Overlay* overlay, const QObject* photo)
{
    for (const Shown& shown : std::as_const(m_overlays)) {
        if (shown.overlay == overlay)
            return;
    }
    m_overlays.append({overlay, photo});
    overlay->installEventFilter(this);
    connect(overlay, &QObject::destroyed, this, &OverlayStack::onOverlayDestroyed, Qt::UniqueConnection);
    m_escapeKey.setActive(true);
    m_stackingWatch.setActive(true);
}

// A window deleted while shown is hidden by its QWidget part first; the destroyed signal covers the rest.
bool OverlayStack::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide) {
        watched->removeEventFilter(this);
        remove(watched);
    }
    return QObject::eventFilter(watched, event);
}

void OverlayStack::onOverlayDestroyed(QObject* overlay)
{
    remove(overlay);
}

void OverlayStack::remove(const QObject* overlay)
{
    m_overlays.removeIf([overlay](const Shown& shown) { return static_cast<QObject*>(shown.overlay) == overlay; });
    if (!m_overlays.isEmpty())
        return;
    m_escapeKey.setActive(false);
    m_stackingWatch.setActive(false);
}

void OverlayStack::onEscapePressed()
{
    if (m_overlays.isEmpty())
        return;
    const Shown top = m_overlays.last();
    const QList<Shown> shown = m_overlays; // hiding removes them
    for (const Shown& each : shown) {
        if (top.photo && each.photo == top.photo && each.overlay != top.overlay)
            each.overlay->hide();
    }
    top.overlay->hideOnEscape();
}

// Many windows can move at once (a window dragged, a desktop switched): one raise for them all.
void OverlayStack::onStackingChanged()
{
    if (m_raiseQueued)
        return;
    m_raiseQueued = true;
    QTimer::singleShot(0, this, &OverlayStack::raiseAll);
}

void OverlayStack::raiseAll()
{
    m_raiseQueued = false;
    for (const Shown& shown : std::as_const(m_overlays))
        shown.overlay->raise();
}
