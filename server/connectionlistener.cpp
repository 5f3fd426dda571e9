// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionlistener.h"

#include <QSslSocket>

ConnectionListener::ConnectionListener(QObject* parent)
    : QTcpServer(parent)
{
}

void ConnectionListener::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}
