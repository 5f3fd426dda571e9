// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>

// Forwards connections on loopback to a target port as a long link would carry them: every
// chunk arrives a one-way delay later, in both directions, and nothing the client sends reaches
// the target before the connection's set-up has cost one round trip.
class DelayRelay : public QObject
{
    Q_OBJECT

public:
    DelayRelay(quint16 targetPort, int oneWayMs, QObject* parent = nullptr);

    bool listen(quint16 port) { return m_server.listen(QHostAddress::LocalHost, port); }

private:
    void onNewConnection();

    QTcpServer m_server;
    QElapsedTimer m_clock;
    quint16 m_targetPort;
    int m_oneWayMs;
};
