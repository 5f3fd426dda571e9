#include "logcapture.h"

#include <QMutexLocker>

LogCapture* LogCapture::s_current = nullptr;

LogCapture::LogCapture()
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    LogCapture* capture = s_current;
    if (!capture)
        return;
    QMutexLocker locker(&capture->m_mutex);
    capture->m_entries.append({type, text});
    locker.unlock();
    if (capture->m_previous)
        capture->m_previous(type, context, text);
}

QStringList LogCapture::lines() const
{
    const QMutexLocker locker(&m_mutex);
    QStringList result;
    for (const Entry& entry : m_entries)
        result.append(entry.text);
    return result;
}

QStringList LogCapture::lines(QtMsgType type) const
{
    const QMutexLocker locker(&m_mutex);
    QStringList result;
    for (const Entry& entry : m_entries) {
        if (entry.type == type)
            result.append(entry.text);
    }
    return result;
}

int LogCapture::count(const QString& line) const
{
    return int(lines().count(line));
}

int LogCapture::countStartingWith(const QString& prefix) const
{
    const QMutexLocker locker(&m_mutex);
    int result = 0;
    for (const Entry& entry : m_entries) {
        if (entry.text.startsWith(prefix))
            ++result;
    }
    return result;
}
