#include "core/overlay.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

Overlay::Overlay(const QPixmap* pixmap, QWidget* parent)
    : QWidget(parent)
{
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);

    auto* label = new QLabel(this);
    const QSize screenSize = QGuiApplication::primaryScreen()->size();
    resize(screenSize);
    if (pixmap) {
        if (pixmap->size() == screenSize)
            label->setPixmap(*pixmap);
        else
            label->setPixmap(pixmap->scaled(screenSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    label->setGeometry(QRect(QPoint(0, 0), screenSize));
    label->setAlignment(Qt::AlignCenter);

    show();
    raise();
    activateWindow();
}

Overlay::~Overlay() = default;

void Overlay::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape) {
        QWidget::keyPressEvent(event);
        return;
    }
    hide();
    std::fputs("Overlay fermé avec la touche Échap\n", stdout);
    std::fflush(stdout);
}
