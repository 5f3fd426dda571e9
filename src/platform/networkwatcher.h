// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QNetworkInformation>
#include <QObject>

// Tells when the system reports the network reachable again, through the platform's backend
// (NetworkManager on Linux, the network list manager on Windows). Without one it stays silent.
class NetworkWatcher : public QObject
{
    Q_OBJECT

public:
    explicit NetworkWatcher(QObject* parent = nullptr);

signals:
    void networkBack();

private:
    void onReachabilityChanged(QNetworkInformation::Reachability reachability);

    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
};
