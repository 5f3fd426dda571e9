// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serverconfig.h"

#include <QString>

// Internal linkage on purpose: every module holds its own copy, so no module depends on the
// static initialisation order of another.
static const QString SERVER_HOST = QStringLiteral(GLIMDECK_SERVER_HOST_LITERAL);
static const QString WS_BASE_URL = QStringLiteral("wss://") + SERVER_HOST;
static const QString HTTPS_BASE_URL = QStringLiteral("https://") + SERVER_HOST;
static const QString USERS_URL = HTTPS_BASE_URL + QStringLiteral("/users");
