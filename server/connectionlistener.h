// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTcpServer>

// A listening socket whose accepted connections wait, not yet encrypting, for the server to take
// them a few at a time. QSslServer keeps connections in their TLS handshake in its pending queue
// and stops accepting once that is full, so handshakes are run by the server itself instead;
// here only connections not yet taken count, and the kernel holds the rest meanwhile.
class ConnectionListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectionListener(QObject* parent = nullptr);

    // Accepted connections become QSslSockets, for the server to start their TLS.
    void setTls(bool tls) { m_tls = tls; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    bool m_tls = false;
};
