// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A room, as the server accepts it in a subscription, a catch-up request or an upload.
namespace RoomName {

constexpr int MAX_LENGTH = 10;

// The room as typed, trimmed; empty when it is not 1 to MAX_LENGTH characters.
QString valid(const QString& typed);

} // namespace RoomName
