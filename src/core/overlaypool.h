// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/overlaystack.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class Overlay;
class QPixmap;
class QScreen;

// Overlay windows kept hidden between photos for the next ones: building a translucent
// full-screen window, then the buffers of its first paint, held the event loop for tens of
// milliseconds for every photo. Spares not used for a while are let go with their buffers.
// Each window it shows goes on the stack, which lets it go again when it hides.
class OverlayPool : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_SPARES = 6; // three photos at once, on two screens
    static constexpr int SPARES_KEPT_MS = 60000;

    // stack: outlives the pool.
    explicit OverlayPool(OverlayStack* stack, QObject* parent = nullptr);
    ~OverlayPool() override;

    // A spare window when there is one, a new one otherwise; shown as the Overlay constructor
    // shows it, and put on the stack. photo: as for OverlayStack::add.
    Overlay* show(const QPixmap* pixmap, QScreen* screen, const QObject* photo);
    // Hides the overlay and keeps it for a later photo.
    void putAway(Overlay* overlay);

private:
    void onSparesExpired();

    OverlayStack* m_stack;
    QList<QPointer<Overlay>> m_spares;
    QTimer m_expiry;
};
