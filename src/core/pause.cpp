// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/pause.h"

#include "settings/pausefile.h"

#include <QDebug>

#include <algorithm>

Pause::Pause(const QString& filePath, Clock now, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_now(std::move(now))
{
    m_check.setSingleShot(true);
    connect(&m_check, &QTimer::timeout, this, &Pause::onCheck);
    const QDateTime until = PauseFile::read(m_filePath);
    if (until.isValid() && until > m_now()) {
        m_until = until;
        qDebug() << "Pause en cours jusqu'à" << m_until.toLocalTime().toString(Qt::ISODate);
        arm();
    }
}

void Pause::pauseFor(int minutes)
{
    set(m_now().addSecs(qint64(minutes) * 60));
}

void Pause::pauseUntilTomorrowMorning()
{
    const QDateTime now = m_now().toLocalTime();
    set(QDateTime(now.date().addDays(1), QTime(MORNING_HOUR, 0)));
}

void Pause::resume()
{
    set(QDateTime());
}

void Pause::set(const QDateTime& until)
{
    m_until = until;
    PauseFile::write(m_filePath, m_until);
    if (isActive()) {
        qDebug() << "Pause jusqu'à" << m_until.toLocalTime().toString(Qt::ISODate);
        arm();
    } else {
        qDebug() << "Pause terminée.";
        m_check.stop();
    }
    emit changed();
}

void Pause::onCheck()
{
    if (m_now() >= m_until)
        resume();
    else
        arm();
}

void Pause::arm()
{
    const qint64 remaining = m_now().msecsTo(m_until);
    m_check.start(int(std::clamp<qint64>(remaining, 0, MAX_CHECK_INTERVAL_MS)));
}
