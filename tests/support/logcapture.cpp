// SPDX-License-Identifier: GPL-3.0-or-later
#include "logcapture.h"

LogCapture* LogCapture::s_current = nullptr;

LogCapture::LogCapture()
    : m_outer(s_current)
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = m_outer;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    LogCapture* outermost = nullptr;
    for (LogCapture* capture = s_current; capture; capture = capture->m_outer) {
        const QMutexLocker locker(&capture->m_mutex);
        capture->m_entries.append({type, text});
        outermost = capture;
    }
    if (outermost && outermost->m_previous)
        outermost->m_previous(type, context, text);
}

QStringList LogCapture::lines(std::optional<QtMsgType> type) const
{
    const QMutexLocker locker(&m_mutex);
    QStringList result;
    for (const auto& [entryType, text] : m_entries) {
        if (!type || entryType == *type)
            result.append(text);
    }
    return result;
}

int LogCapture::countStartingWith(const QString& prefix) const
{
    return int(lines().filter(QRegularExpression(u'^' + QRegularExpression::escape(prefix))).size());
}
