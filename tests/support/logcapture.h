// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtCore>

#include <optional>

// Records every log line while it lives (and still prints them), so tests can assert the
// program's exact log lines. Captures nest; each records what is logged in its lifetime.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    Q_DISABLE_COPY(LogCapture)

    // Every line, or those of one type.
    QStringList lines(std::optional<QtMsgType> type = std::nullopt) const;
    int count(const QString& line) const { return int(lines().count(line)); }
    bool contains(const QString& line) const { return count(line) > 0; }
    int countStartingWith(const QString& prefix) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);

    // Qt's worker threads log too.
    mutable QMutex m_mutex;
    QList<std::pair<QtMsgType, QString>> m_entries;
    QtMessageHandler m_previous;
    LogCapture* m_outer;
    static LogCapture* s_current;
};
