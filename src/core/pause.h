// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/photo.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

// A pause chosen in the tray: no photo is shown until it ends, at its time, by itself. It is
// kept in a file, so that it outlives a restart of the program.
class Pause : public QObject
{
    Q_OBJECT

public:
    static constexpr int MORNING_HOUR = 8;

    Pause(const QString& filePath, Clock now, QObject* parent = nullptr);

    bool isActive() const { return m_until.isValid(); }
    QDateTime until() const { return m_until; }

    void pauseFor(int minutes);
    void pauseUntilTomorrowMorning();
    void resume();

signals:
    void changed();

private:
    // The wall clock is looked at again at least this often: a timer does not count the time
    // the computer sleeps, and a pause must still end at its hour.
    static constexpr int MAX_CHECK_INTERVAL_MS = 60 * 1000;

    void set(const QDateTime& until);
    void onCheck();
    void arm();

    QString m_filePath;
    Clock m_now;
    QDateTime m_until;
    QTimer m_check;
};
