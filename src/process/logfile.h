// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <atomic>

// Copies every log line, with its date and time, into a file the user can find; a windowed
// executable has no console to show them. Standard error keeps exactly what it printed before.
// Installs the process-wide message handler for as long as it lives; one at a time.
class LogFile
{
public:
    static constexpr qint64 MAX_SIZE = 1024 * 1024;

    // The file is kept to maxSize bytes, the previous one moved to path + ".1".
    explicit LogFile(const QString& path, qint64 maxSize = MAX_SIZE);
    // Puts the previous handler back, so that no line is handed to a file that is gone.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void write(const QString& message);
    void openOrRotate();

    static std::atomic<LogFile*> s_current;

    QMutex m_mutex;
    QFile m_file;
    qint64 m_maxSize;
    QtMessageHandler m_previous = nullptr;
};
