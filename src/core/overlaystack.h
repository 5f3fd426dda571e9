// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/escapekeygrab.h"
#include "platform/stackingwatch.h"

#include <QList>
#include <QObject>

class Overlay;

// The photos on screen, in the order they were shown. It keeps them above other programs'
// windows, the last shown on top, and hides the topmost photo on Escape, on every screen it is on. The Escape key is
// taken from the desktop only while a photo is visible.
class OverlayStack : public QObject
{
    Q_OBJECT

public:
    static OverlayStack* instance();

    // photo: shared by the overlays of one photo; null for an overlay alone.
    void add(Overlay* overlay, const QObject* photo = nullptr);
    void remove(Overlay* overlay);

private:
    explicit OverlayStack(QObject* parent);

    void onEscapePressed();
    void onStackingChanged();
    void raiseAll();

    struct Shown
    {
        Overlay* overlay;
        const QObject* photo;
    };
    QList<Shown> m_overlays;
    EscapeKeyGrab m_escapeKey;
    StackingWatch m_stackingWatch;
    bool m_raiseQueued = false;
};
