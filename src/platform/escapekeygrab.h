// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

// The Escape key, taken from the whole desktop while active, so that it reaches the program
// although none of its windows has the keyboard focus. Another program may hold it already:
// then one warning, and the key stays theirs.
class EscapeKeyGrab : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit EscapeKeyGrab(QObject* parent = nullptr);
    ~EscapeKeyGrab() override;

    void setActive(bool active);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void pressed();

private:
    bool grab();
    void release();
    static void warnHeldElsewhere();

    bool m_active = false;
    quint32 m_key = 0; // the grabbed key code (X11) or hot key id (Windows); 0 while not held
};
