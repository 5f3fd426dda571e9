// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtCore>

#include <optional>

// Records the log lines of its lifetime, and still prints them. Captures nest.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    Q_DISABLE_COPY(LogCapture)

    QStringList lines(std::optional<QtMsgType> type = std::nullopt) const;
    int count(const QString& line) const { return int(lines().count(line)); }
    bool contains(const QString& line) const { return count(line) > 0; }
    int countStartingWith(const QString& prefix) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);

    mutable QMutex m_mutex; // Qt's worker threads log too
    QList<std::pair<QtMsgType, QString>> m_entries;
    QtMessageHandler m_previous;
    LogCapture* m_outer;
    static LogCapture* s_current;
};
