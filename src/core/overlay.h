#pragma once

#include <QWidget>

class QKeyEvent;
class QPixmap;

// One picture over everything on the primary screen: frameless, on top, transparent around the
// picture and to the mouse. Escape hides it.
class Overlay : public QWidget
{
    Q_OBJECT

public:
    Overlay(const QPixmap* pixmap, QWidget* parent);
    ~Overlay() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
