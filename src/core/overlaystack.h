// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/escapekeygrab.h"
#include "platform/stackingwatch.h"

#include <QList>
#include <QObject>

class Overlay;

// The photos on screen, in the order they were shown. It keeps them above other programs'
// windows, the last shown on top, and hides the topmost one on Escape. The Escape key is taken
// from the desktop only while a photo is visible.
class OverlayStack : public QObject
{
    Q_OBJECT

public:
    static OverlayStack* instance();

    void add(Overlay* overlay);
    void remove(Overlay* overlay);

private:
    explicit OverlayStack(QObject* parent);

    void onEscapePressed();
    void onStackingChanged();
    void raiseAll();

    QList<Overlay*> m_overlays;
    EscapeKeyGrab m_escapeKey;
    StackingWatch m_stackingWatch;
    bool m_raiseQueued = false;
};
