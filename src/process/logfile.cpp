#include "logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

#include <memory>

namespace {

std::unique_ptr<LogFile>& current()
{
    static std::unique_ptr<LogFile> logFile;
    return logFile;
}

} // namespace

LogFile::LogFile(const QString& path, qint64 maxSize)
    : m_file(path)
    , m_maxSize(maxSize)
{
}

void LogFile::install(const QString& path, qint64 maxSize)
{
    uninstall();
    QDir().mkpath(QFileInfo(path).path());
    current().reset(new LogFile(path, maxSize));
    current()->openOrRotate();
    current()->m_previous = qInstallMessageHandler(&LogFile::handle);
}

void LogFile::uninstall()
{
    if (current()) {
        qInstallMessageHandler(current()->m_previous);
        current().reset();
    }
}

void LogFile::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogFile* logFile = current().get();
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
