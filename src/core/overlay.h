// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QScreen>
#include <QWidget>

class QLabel;
class QPixmap;

// One picture over everything on one screen (the primary one unless told): frameless, on top,
// transparent around the picture and to the mouse, and never taking the keyboard focus. It hides
// itself when its screen goes away; keeping it on top and Escape are the stack's (OverlayStack).
class Overlay : public QWidget
{
    Q_OBJECT

public:
    Overlay(const QPixmap* pixmap, QWidget* parent, QScreen* screen = nullptr);

    // The largest size with the picture's proportions that fits the screen: how it is shown.
    static QSize shownSize(const QSize& picture, const QSize& screen);

    void hideOnEscape();
    // For a window used again by a later photo: what the constructor shows, then its undoing.
    void showPicture(const QPixmap* pixmap, QScreen* screen);
    void hideAndClear();

private:
    void onScreenRemoved(QScreen* screen);

    QPointer<QScreen> m_screen;
    QLabel* m_label;
};
