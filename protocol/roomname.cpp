// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/roomname.h"

QString RoomName::valid(const QString& typed)
{
    const QString trimmed = typed.trimmed();
    return trimmed.size() <= MAX_LENGTH ? trimmed : QString();
}
