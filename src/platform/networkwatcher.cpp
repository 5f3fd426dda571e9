// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/networkwatcher.h"

#include <QDebug>

#include <utility>

NetworkWatcher::NetworkWatcher(QObject* parent)
    : QObject(parent)
{
    if (!QNetworkInformation::loadDefaultBackend()) {
        qDebug() << "Réseau : le système ne signale pas ses changements, reconnexions au rythme habituel.";
        return;
    }
    QNetworkInformation* information = QNetworkInformation::instance();
    m_reachability = information->reachability();
    connect(information, &QNetworkInformation::reachabilityChanged, this, &NetworkWatcher::onReachabilityChanged);
}

// Attempts go on at their usual pace while the network is reported gone: a system that wrongly
// reports no network (unmanaged interfaces, some VPNs) must not keep the client offline. Its
// return starts the chain afresh anyway, even after the client gave up.
void NetworkWatcher::onReachabilityChanged(QNetworkInformation::Reachability reachability)
{
    using Reachability = QNetworkInformation::Reachability;
    const Reachability previous = std::exchange(m_reachability, reachability);
    if (reachability == Reachability::Disconnected && previous != Reachability::Disconnected)
        qDebug() << "Réseau perdu : reconnexion immédiate à son retour.";
    if (reachability >= Reachability::Site && reachability > previous)
        emit networkBack();
}
