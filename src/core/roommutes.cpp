// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/roommutes.h"

#include "settings/pausefile.h"

#include <QDebug>

#include <algorithm>

RoomMutes::RoomMutes(const QString& filePath, Clock now, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_now(std::move(now))
    , m_mutes(PauseFile::readMutes(filePath))
{
    m_check.setSingleShot(true);
    connect(&m_check, &QTimer::timeout, this, &RoomMutes::onCheck);
    if (dropEnded())
        save();
    for (auto it = m_mutes.cbegin(); it != m_mutes.cend(); ++it)
        qDebug() << "Groupe muet :" << it.key() << it.value().toLocalTime().toString(Qt::ISODate);
    arm();
}

// The clock is asked each time: a mute past its end is over, whether or not its check ran yet.
bool RoomMutes::isMuted(const QString& room) const
{
    const std::optional<QDateTime> end = until(room);
    return end && (!end->isValid() || m_now() < *end);
}

std::optional<QDateTime> RoomMutes::until(const QString& room) const
{
    const auto found = m_mutes.constFind(room);
    if (found == m_mutes.cend())
        return std::nullopt;
    return *found;
}

void RoomMutes::muteFor(const QString& room, int minutes)
{
    set(room, m_now().addSecs(qint64(minutes) * 60));
}

void RoomMutes::muteForever(const QString& room)
{
    set(room, QDateTime());
}

void RoomMutes::unmute(const QString& room)
{
    if (m_mutes.contains(room))
        set(room, std::nullopt);
}

void RoomMutes::set(const QString& room, const std::optional<QDateTime>& until)
{
    if (until)
        m_mutes.insert(room, *until);
    else
        m_mutes.remove(room);
    qDebug() << "Groupe" << room << (until ? "muet jusqu'à" : "réactivé")
             << (until ? until->toLocalTime().toString(Qt::ISODate) : QString());
    save();
    arm();
    emit changed();
}

bool RoomMutes::dropEnded()
{
    const QDateTime now = m_now();
    return m_mutes.removeIf([&now](QHash<QString, QDateTime>::iterator mute) {
        return mute.value().isValid() && mute.value() <= now;
    }) > 0;
}

void RoomMutes::onCheck()
{
    if (dropEnded()) {
        qDebug() << "Fin de mise en sourdine.";
        save();
        emit changed();
    }
    arm();
}

void RoomMutes::arm()
{
    qint64 nearest = -1;
    for (const QDateTime& end : std::as_const(m_mutes)) {
        if (end.isValid())
            nearest = nearest < 0 ? m_now().msecsTo(end) : std::min(nearest, m_now().msecsTo(end));
    }
    if (nearest < 0)
        m_check.stop();
    else
        m_check.start(int(std::clamp<qint64>(nearest, 0, MAX_CHECK_INTERVAL_MS)));
}

void RoomMutes::save()
{
    PauseFile::writeMutes(m_filePath, m_mutes);
}
