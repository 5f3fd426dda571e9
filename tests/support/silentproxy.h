#pragma once

#include <QObject>
#include <QTcpServer>

// Forwards bytes between a client and a loopback port; once silenced it swallows everything in
// both directions, so the client sees a peer that is still connected but no longer answers.
class SilentProxy : public QObject
{
    Q_OBJECT

public:
    explicit SilentProxy(quint16 targetPort, QObject* parent = nullptr);

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    void setSilent(bool silent) { m_silent = silent; }

private:
    void onNewConnection();

    QTcpServer m_server;
    quint16 m_targetPort;
    bool m_silent = false;
};
