// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/escapekeygrab.h"
#include "platform/stackingwatch.h"

#include <QList>
#include <QObject>

class Overlay;
class QEvent;

// The photos on screen, in the order they were shown. It keeps them above other programs'
// windows, the last shown on top, and hides the topmost photo on Escape, on every screen it is on.
// The Escape key is taken from the desktop only while a photo it holds is visible. An overlay
// leaves it when it hides or is deleted: the overlay itself knows nothing of the stack.
class OverlayStack : public QObject
{
    Q_OBJECT

public:
    explicit OverlayStack(QObject* parent = nullptr);

    // photo: shared by the overlays of one photo; null for an overlay alone.
    void add(Overlay* overlay, const QObject* photo = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void remove(const QObject* overlay);
    void onOverlayDestroyed(QObject* overlay);
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
