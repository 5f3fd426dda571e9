// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/photo.h"

#include <QList>
#include <QObject>

class BusyWatcher;
class Pause;

// Holds photos while the user is busy (a full-screen window, do-not-disturb, a locked screen, a
// pause) and hands them back once nothing holds any more: the few newest that are still
// recent, so that the end of a meeting does not start a slide show.
class PhotoHold : public QObject
{
    Q_OBJECT

public:
    static constexpr int MAX_RELEASED = 3;
    static constexpr qint64 MAX_RELEASED_AGE_S = 10 * 60;

    PhotoHold(Pause* pause, Clock now, QObject* parent = nullptr);

    bool isHolding();
    // Keeps the photo and returns true while something holds.
    bool hold(const Photo& photo);

signals:
    // The photos to show now, oldest first.
    void released(const QList<Photo>& photos);

private:
    void onSourceChanged();

    Pause* m_pause;
    Clock m_now;
    QList<BusyWatcher*> m_watchers;
    QList<Photo> m_held; // the newest only: older ones are never shown
    int m_heldCount = 0;
};
