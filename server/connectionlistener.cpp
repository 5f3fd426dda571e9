// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionlistener.h"

ConnectionListener::ConnectionListener(QObject* parent)
    : QTcpServer(parent)
{
}

void ConnectionListener::incomingConnection(qintptr descriptor)
{
    emit connectionAccepted(descriptor);
}
