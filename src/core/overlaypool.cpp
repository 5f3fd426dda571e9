// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlaypool.h"

#include "core/overlay.h"
#include "core/overlaystack.h"

#include <QDebug>

OverlayPool::OverlayPool(OverlayStack* stack, QObject* parent)
    : QObject(parent)
    , m_stack(stack)
{
    m_expiry.setSingleShot(true);
    m_expiry.setInterval(SPARES_KEPT_MS);
    connect(&m_expiry, &QTimer::timeout, this, &OverlayPool::onSparesExpired);
}

OverlayPool::~OverlayPool()
{
    for (const QPointer<Overlay>& spare : std::as_const(m_spares))
        delete spare.data();
}

Overlay* OverlayPool::show(const QPixmap* pixmap, QScreen* screen, const QObject* photo)
{
    Overlay* overlay = nullptr;
    while (!overlay && !m_spares.isEmpty())
        overlay = m_spares.takeLast(); // null when deleted from outside, with the application's windows
    if (overlay)
        overlay->showPicture(pixmap, screen);
    else
        overlay = new Overlay(pixmap, nullptr, screen);
    m_stack->add(overlay, photo);
    return overlay;
}

void OverlayPool::putAway(Overlay* overlay)
{
    overlay->hideAndClear();
    if (m_spares.size() >= MAX_SPARES) {
        overlay->deleteLater();
        return;
    }
    m_spares.append(overlay);
    m_expiry.start();
}

void OverlayPool::onSparesExpired()
{
    qDebug() << "Fenêtres de photo libérées :" << m_spares.size();
    for (const QPointer<Overlay>& spare : std::as_const(m_spares)) {
        if (spare)
            spare->deleteLater();
    }
    m_spares.clear();
}
