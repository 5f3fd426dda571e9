// SPDX-License-Identifier: GPL-3.0-or-later
#include "stdoutcapture.h"

#include <unistd.h>

StdoutCapture::StdoutCapture()
    : m_file(std::tmpfile())
{
    std::fflush(stdout);
    m_saved = dup(fileno(stdout));
    dup2(fileno(m_file), fileno(stdout));
}

// What was captured is printed after all, the test framework's lines among it.
StdoutCapture::~StdoutCapture()
{
    const QByteArray captured = text();
    dup2(m_saved, fileno(stdout));
    close(m_saved);
    std::fclose(m_file);
    std::fwrite(captured.constData(), 1, size_t(captured.size()), stdout);
    std::fflush(stdout);
}

QByteArray StdoutCapture::text() const
{
    std::fflush(stdout);
    QByteArray bytes;
    char buffer[4096];
    std::rewind(m_file);
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return bytes;
}
