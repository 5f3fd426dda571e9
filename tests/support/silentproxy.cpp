#include "silentproxy.h"

#include <QHostAddress>
#include <QTcpSocket>

SilentProxy::SilentProxy(quint16 targetPort, QObject* parent)
    : QObject(parent)
    , m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SilentProxy::onNewConnection);
}

bool SilentProxy::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void SilentProxy::onNewConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        auto* upstream = new QTcpSocket(client);
        const auto forward = [this](QTcpSocket* from, QTcpSocket* to) {
            const QByteArray bytes = from->readAll();
            if (!m_silent)
                to->write(bytes);
        };
        connect(client, &QTcpSocket::readyRead, this, [=] { forward(client, upstream); });
        connect(upstream, &QTcpSocket::readyRead, this, [=] { forward(upstream, client); });
        connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
        connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
    }
}
