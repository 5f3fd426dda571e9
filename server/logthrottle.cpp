// SPDX-License-Identifier: GPL-3.0-or-later
#include "logthrottle.h"

#include "serverlimits.h"

#include <utility>

namespace {
}

LogThrottle::LogThrottle()
{
    m_clock.start();
}

bool LogThrottle::pass(const QString& kind, qint64* held)
{
    Kind& entry = m_kinds[kind]; // kinds are names in the code, so the table stays small
    const qint64 now = m_clock.elapsed();
    const double rate = ServerLimits::LOG_LINES_PER_MINUTE;
    if (entry.tokens < 0)
        entry.tokens = rate;
    entry.tokens = qMin(rate, entry.tokens + double(now - entry.refilledAt) * rate / ServerLimits::MINUTE_MS);
    entry.refilledAt = now;
    if (entry.tokens < 1) {
        ++entry.held;
        return false;
    }
    entry.tokens -= 1;
    *held = std::exchange(entry.held, 0);
    return true;
}

QString LogThrottle::heldNote(qint64 held)
{
    return held > 0 ? QStringLiteral(" (%1 lignes semblables tues)").arg(held) : QString();
}
