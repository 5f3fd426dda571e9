// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"

#include "core/overlaystack.h"
#include "platform/captureexclusion.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

Overlay::Overlay(const QPixmap* pixmap, QWidget* parent, QScreen* screen, const QObject* photo)
    : QWidget(parent)
    , m_screen(screen ? screen : QGuiApplication::primaryScreen())
{
    // Input transparency reaches the native window only as a window flag. The window manager
    // is bypassed because a manager may frame the window and stop clicks at its frame; the stack
    // keeps it on top instead. It never takes the focus, so typing elsewhere goes on.
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput
                   | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    CaptureExclusion::exclude(this);

    auto* label = new QLabel(this);
    const QSize screenSize = m_screen->size();
    setScreen(m_screen);
    setGeometry(m_screen->geometry());
    connect(qApp, &QGuiApplication::screenRemoved, this, &Overlay::onScreenRemoved);
    if (pixmap) {
        if (pixmap->size() == screenSize)
            label->setPixmap(*pixmap);
        else
            label->setPixmap(
                pixmap->scaled(shownSize(pixmap->size(), screenSize), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    label->setGeometry(QRect(QPoint(0, 0), screenSize));
    label->setAlignment(Qt::AlignCenter);

    show();
    raise();
    OverlayStack::instance()->add(this, photo);
}

// Before the screen is deleted, while the window is still where it was.
void Overlay::onScreenRemoved(QScreen* screen)
{
    if (screen == m_screen)
        hide();
}

QSize Overlay::shownSize(const QSize& picture, const QSize& screen)
{
    return picture.scaled(screen, Qt::KeepAspectRatio);
}

Overlay::~Overlay()
{
    OverlayStack::instance()->remove(this);
}

void Overlay::hideOnEscape()
{
    hide();
    std::fputs("Overlay fermé avec la touche Échap\n", stdout);
    std::fflush(stdout);
}

void Overlay::hideEvent(QHideEvent* event)
{
    OverlayStack::instance()->remove(this);
    QWidget::hideEvent(event);
}
