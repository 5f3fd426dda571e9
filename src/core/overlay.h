// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QScreen>
#include <QWidget>

class QPixmap;

// One picture over everything on one screen (the primary one unless told): frameless, on top,
// transparent around the picture and to the mouse, and never taking the keyboard focus. Escape
// hides it, with the photo's other overlays. It hides itself when its screen goes away.
class Overlay : public QWidget
{
    Q_OBJECT

public:
    // photo: what the overlays of one photo share, so that Escape hides them together.
    Overlay(const QPixmap* pixmap, QWidget* parent, QScreen* screen = nullptr, const QObject* photo = nullptr);
    ~Overlay() override;

    // The largest size with the picture's proportions that fits the screen: how it is shown.
    static QSize shownSize(const QSize& picture, const QSize& screen);

    void hideOnEscape();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void onScreenRemoved(QScreen* screen);

    QPointer<QScreen> m_screen;
};
