// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTcpServer>

// A listening socket that hands over every accepted connection at once as a bare descriptor.
// QSslServer keeps connections still in their TLS handshake in its pending queue and stops
// accepting once that queue is full, so handshakes are run by the server itself instead.
class ConnectionListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectionListener(QObject* parent = nullptr);

signals:
    void connectionAccepted(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;
};
