// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"

#include "platform/captureexclusion.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

Overlay::Overlay(const QPixmap* pixmap, QWidget* parent, QScreen* screen)
    : QWidget(parent)
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

    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    connect(qApp, &QGuiApplication::screenRemoved, this, &Overlay::onScreenRemoved);
    showPicture(pixmap, screen);
}

void Overlay::showPicture(const QPixmap* pixmap, QScreen* screen)
{
    m_screen = screen ? screen : QGuiApplication::primaryScreen();
    const QSize screenSize = m_screen->size();
    setScreen(m_screen);
    setGeometry(m_screen->geometry());
    if (pixmap) {
        if (pixmap->size() == screenSize)
            m_label->setPixmap(*pixmap);
        else
            m_label->setPixmap(
                pixmap->scaled(shownSize(pixmap->size(), screenSize), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    m_label->setGeometry(QRect(QPoint(0, 0), screenSize));

    show();
    raise();
}

void Overlay::hideAndClear()
{
    hide();
    m_label->clear(); // the picture is not kept with a spare window
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

void Overlay::hideOnEscape()
{
    hide();
    std::fputs("Overlay fermé avec la touche Échap\n", stdout);
    std::fflush(stdout);
}
