// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace HttpStatus {

// The reason phrase sent after a status code, "Internal Server Error" for codes not listed.
QByteArray reasonPhrase(int status);

} // namespace HttpStatus
