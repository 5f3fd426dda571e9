// SPDX-License-Identifier: GPL-3.0-or-later
#include "instancegroup.h"

#include "picturestore.h"
#include "roomhub.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QSysInfo>

InstanceGroup::InstanceGroup(const QString& redis, const QString& instance, RoomHub& hub, PictureStore& store,
                             int maxAgeHours, QObject* parent)
    : QObject(parent)
    , m_instance(instance.isEmpty() ? madeUpName() : instance)
    , m_link(redis)
    , m_relay(m_link, hub, m_instance, maxAgeHours * 3600,
              [&store](const QString& image) { return store.contains(image); })
    , m_count(m_link, m_instance, [&hub] { return hub.clientCount(); })
{
    qInfo().noquote() << "Instance" << m_instance << "du groupe réuni par Redis sur" << redis;
    connect(&m_rescan, &QTimer::timeout, &store, &PictureStore::rescan);
    m_rescan.start(RESCAN_INTERVAL_MS);
    m_link.start();
}

QString InstanceGroup::madeUpName()
{
    return QSysInfo::machineHostName() + QLatin1Char('-') + QString::number(QRandomGenerator::system()->generate(), 16);
}
