// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <cstdio>

// Standard output sent to a file while it lives.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    Q_DISABLE_COPY(StdoutCapture)

    QByteArray text() const;

private:
    FILE* m_file;
    int m_saved;
};
