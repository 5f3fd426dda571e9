// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "groupcount.h"
#include "redislink.h"
#include "roomrelay.h"

#include <QObject>
#include <QString>
#include <QTimer>

class PictureStore;
class RoomHub;

// This instance's membership of a group of instances joined through one Redis: its rooms'
// photos and catch-up, its count, and the picture folder they share.
class InstanceGroup : public QObject
{
    Q_OBJECT

public:
    // Pictures the other instances stored or deleted are seen within this time.
    static constexpr int RESCAN_INTERVAL_MS = 60 * 1000;

    InstanceGroup(const QString& redis, const QString& instance, RoomHub& hub, PictureStore& store, int maxAgeHours,
                  QObject* parent = nullptr);

    GroupCount& count() { return m_count; }
    // A name of its own for an instance that was given none.
    static QString madeUpName();

private:
    QString m_instance;
    RedisLink m_link;
    RoomRelay m_relay;
    GroupCount m_count;
    QTimer m_rescan;
};
