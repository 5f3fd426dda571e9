// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/photohold.h"

#include "core/pause.h"
#include "platform/donotdisturbwatcher.h"
#include "platform/fullscreenwatcher.h"
#include "platform/screenlockwatcher.h"

#include <QDebug>

#include <utility>

PhotoHold::PhotoHold(Pause* pause, Clock now, QObject* parent)
    : QObject(parent)
    , m_pause(pause)
    , m_now(std::move(now))
    , m_watchers{new FullScreenWatcher(this), new DoNotDisturbWatcher(this), new ScreenLockWatcher(this)}
{
    for (BusyWatcher* watcher : std::as_const(m_watchers))
        connect(watcher, &BusyWatcher::changed, this, &PhotoHold::onSourceChanged);
    connect(m_pause, &Pause::changed, this, &PhotoHold::onSourceChanged);
}

// Every source is asked: some only answer when asked, and watch again while they hold.
bool PhotoHold::isHolding()
{
    bool holding = m_pause->isActive();
    for (BusyWatcher* watcher : std::as_const(m_watchers))
        holding = watcher->isBusy() || holding;
    return holding;
}

bool PhotoHold::hold(const Photo& photo)
{
    if (!isHolding())
        return false;
    qDebug() << "Photo retenue :" << photo.url;
    m_held.append(photo);
    if (m_held.size() > MAX_RELEASED)
        m_held.removeFirst();
    ++m_heldCount;
    return true;
}

void PhotoHold::onSourceChanged()
{
    if (m_heldCount == 0 || isHolding())
        return;
    const QDateTime oldest = m_now().addSecs(-MAX_RELEASED_AGE_S);
    QList<Photo> shown;
    for (const Photo& photo : std::as_const(m_held)) {
        if (photo.arrived >= oldest)
            shown.append(photo);
    }
    qDebug() << "Fin de la retenue :" << m_heldCount << "photos retenues," << shown.size() << "montrées.";
    m_held.clear();
    m_heldCount = 0;
    emit released(shown);
}
