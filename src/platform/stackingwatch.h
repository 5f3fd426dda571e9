// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

// Tells when, while active, a window of another program is mapped or restacked, so that
// windows that must stay above everything can be raised again. Where the window system keeps
// such windows on top by itself (Windows), it never fires.
class StackingWatch : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit StackingWatch(QObject* parent = nullptr);
    ~StackingWatch() override;

    void setActive(bool active);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void changed();

private:
    bool m_active = false;
    quint32 m_root = 0;
    quint32 m_savedMask = 0;
};
