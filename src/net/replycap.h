// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <functional>

class QNetworkReply;

// An answer that would go on for ever, or announces more than its reader takes, is cut at its
// reader's bound instead of growing in memory until the process dies.
namespace ReplyCap {

// Aborts reply once its body passes maxBytes, announced or received; onCut runs just before.
void limit(QNetworkReply* reply, qint64 maxBytes, const std::function<void()>& onCut = {});
// A small body can be whole before its progress is told, and an abort then comes too late: the
// reader asks here whether it was cut.
bool wasCut(const QNetworkReply* reply);

} // namespace ReplyCap
