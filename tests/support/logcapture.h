#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every log line while it lives (and still prints them), so tests can assert the
// program's exact log lines. One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    QStringList lines(QtMsgType type) const;
    int count(const QString& line) const;
    bool contains(const QString& line) const { return count(line) > 0; }
    int countStartingWith(const QString& prefix) const;

private:
    struct Entry
    {
        QtMsgType type;
        QString text;
    };
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);

    // Qt's worker threads log too.
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    QtMessageHandler m_previous;
    static LogCapture* s_current;
};
