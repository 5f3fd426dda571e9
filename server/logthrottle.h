// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

// Holds back repeated log lines of one kind past a few a minute, so a flood of them cannot bury
// the rest (journald drops lines past its own rate); the next line written says how many were held.
class LogThrottle
{
public:
    LogThrottle();

    // True when a line of kind may be written now; *held is then how many were held back before it.
    bool pass(const QString& kind, qint64* held);
    // " (N lignes semblables tues)" after a line that follows held ones, else nothing.
    static QString heldNote(qint64 held);

private:
    struct Kind
    {
        double tokens = -1;
        qint64 refilledAt = 0;
        qint64 held = 0;
    };
    QHash<QString, Kind> m_kinds;
    QElapsedTimer m_clock;
};
