// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

// The time of day as the user's desktop shows it; tests give a clock of their own.
using Clock = std::function<QDateTime()>;

// One broadcast photo on its way: what the server sent, when it came, and its entry among the
// recent photos.
struct Photo
{
    QUrl url;
    QString message;
    QString room; // empty when the broadcast names none
    QDateTime arrived;
    int recentId = 0;
};
