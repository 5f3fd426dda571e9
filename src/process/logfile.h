#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

// Copies every log line, with its date and time, into a file the user can find; a windowed
// executable has no console to show them. Standard error keeps exactly what it printed before.
class LogFile
{
public:
    static constexpr qint64 MAX_SIZE = 1024 * 1024;

    // Installs the process-wide message handler; the file is kept to maxSize bytes, the previous
    // one moved to path + ".1".
    static void install(const QString& path, qint64 maxSize = MAX_SIZE);
    static void uninstall();

private:
    LogFile(const QString& path, qint64 maxSize);
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void write(const QString& message);
    void openOrRotate();

    QMutex m_mutex;
    QFile m_file;
    qint64 m_maxSize;
    QtMessageHandler m_previous = nullptr;
};
