// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QQueue>
#include <QTcpServer>

class QTcpSocket;

// A listening socket whose accepted connections wait, not yet encrypting, for the server to take
// them a few at a time. QSslServer keeps connections in their TLS handshake in its pending queue
// and stops accepting once that is full, so handshakes are run by the server itself instead.
// Waiting connections are handed out in turns by address: a crowd from some addresses, or one
// address opening thousands, keeps a newcomer from another address waiting one turn at most.
class ConnectionListener : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectionListener(QObject* parent = nullptr);

    // Accepted connections become QSslSockets, for the server to start their TLS.
    void setTls(bool tls) { m_tls = tls; }
    // At most total connections wait, perAddress of one address (0: no bound, as behind a
    // proxy), each for at most waitMs; past those, newcomers stay in the kernel's backlog or are
    // closed.
    void setWaitBounds(int total, int perAddress, int waitMs);

    bool hasPendingConnections() const override { return m_count > 0; }
    QTcpSocket* nextPendingConnection() override;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Waiting
    {
        QTcpSocket* socket;
        QDeadlineTimer deadline;
    };
    Waiting takeNextTurn();

    bool m_tls = false;
    int m_maxWaiting = 0;
    int m_maxWaitingPerAddress = 0;
    int m_waitMs = 0;
    QHash<QHostAddress, QQueue<Waiting>> m_waiting;
    // Addresses with connections waiting, each once, the next to be served first.
    QQueue<QHostAddress> m_turns;
    int m_count = 0;
};
