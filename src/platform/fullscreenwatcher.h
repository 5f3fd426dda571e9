// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/busywatcher.h"

#include <memory>

// Busy while the active window is full screen on the primary screen, which the photos cover:
// a slide show, a film, a game, a shared screen. X11 reports it through the root window's
// properties; Windows answers when asked, so there the state is asked again while it holds.
class FullScreenWatcher : public BusyWatcher
{
    Q_OBJECT

public:
    explicit FullScreenWatcher(QObject* parent = nullptr);
    ~FullScreenWatcher() override;

    bool isBusy() override;

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};
