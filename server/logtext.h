// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serverlimits.h"

#include <QString>

namespace LogText {

// Client text made safe for one log line: quoted, control characters and quotes escaped, and
// cut to maxLength characters with "…" so no client can forge lines or flood the log.
QString quoted(const QString& text, int maxLength = ServerLimits::MAX_LOGGED_TEXT_LENGTH);

} // namespace LogText
