// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QPixmap;

// One picture over everything on the primary screen: frameless, on top, transparent around the
// picture and to the mouse, and never taking the keyboard focus. Escape hides it.
class Overlay : public QWidget
{
    Q_OBJECT

public:
    Overlay(const QPixmap* pixmap, QWidget* parent);
    ~Overlay() override;

    // The largest size with the picture's proportions that fits the screen: how it is shown.
    static QSize shownSize(const QSize& picture, const QSize& screen);

    void hideOnEscape();

protected:
    void hideEvent(QHideEvent* event) override;
};
