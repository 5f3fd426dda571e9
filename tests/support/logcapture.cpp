#include "logcapture.h"

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
    if (s_current) {
        s_current->m_entries.append({type, text});
        if (s_current->m_previous)
            s_current->m_previous(type, context, text);
    }
}

QStringList LogCapture::lines() const
{
    QStringList result;
    for (const Entry& entry : m_entries)
        result.append(entry.text);
    return result;
}

QStringList LogCapture::lines(QtMsgType type) const
{
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
    int result = 0;
    for (const Entry& entry : m_entries) {
        if (entry.text.startsWith(prefix))
            ++result;
    }
    return result;
}

void LogCapture::clear()
{
    m_entries.clear();
}
