// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

std::atomic<LogFile*> LogFile::s_current{nullptr};

LogFile::LogFile(const QString& path, qint64 maxSize)
    : m_file(path)
    , m_maxSize(maxSize)
{
    QDir().mkpath(QFileInfo(path).path());
    openOrRotate();
    s_current = this;
    m_previous = qInstallMessageHandler(&LogFile::handle);
}

LogFile::~LogFile()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogFile::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogFile* logFile = s_current;
    if (!logFile)
        return;
    if (logFile->m_previous)
        logFile->m_previous(type, context, message);
    logFile->write(qFormatLogMessage(type, context, message));
}

void LogFile::write(const QString& message)
{
    // Qt's own worker threads may log too.
    const QMutexLocker locker(&m_mutex);
    if (m_file.isOpen() && m_file.size() >= m_maxSize)
        openOrRotate();
    if (!m_file.isOpen())
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    m_file.write((stamp + QLatin1Char(' ') + message + QLatin1Char('\n')).toUtf8());
    m_file.flush();
}

void LogFile::openOrRotate()
{
    m_file.close();
    if (QFileInfo(m_file.fileName()).size() >= m_maxSize) {
        const QString previous = m_file.fileName() + QStringLiteral(".1");
        QFile::remove(previous);
        QFile::rename(m_file.fileName(), previous);
    }
    // A log that cannot be opened costs the file only; the lines still reach standard error.
    m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}
