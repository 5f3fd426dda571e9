// SPDX-License-Identifier: GPL-3.0-or-later
#include "silentproxy.h"

SilentProxy::SilentProxy(quint16 targetPort, QObject* parent)
    : QObject(parent)
    , m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &SilentProxy::onNewConnection);
}

void SilentProxy::silenceOpenLinks()
{
    // Upstreams are the accepted sockets' children.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        socket->setProperty("silent", true);
}

void SilentProxy::cut()
{
    m_server.close();
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        socket->abort();
}

void SilentProxy::onNewConnection()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        if (m_targetPort != 0)
            link(client, m_targetPort);
        else
            connect(client, &QTcpSocket::readyRead, this, [this, client] { readConnectRequest(client); });
    }
}

void SilentProxy::readConnectRequest(QTcpSocket* client)
{
    const QByteArray request = client->property("request").toByteArray() + client->readAll();
    client->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    client->disconnect(this);
    if (words.size() != 3 || words.at(0) != "CONNECT") {
        client->abort();
        return;
    }
    m_tunnels.append(QString::fromLatin1(words.at(1)));
    client->write("HTTP/1.1 200 Connection established\r\n\r\n");
    link(client, words.at(1).mid(words.at(1).lastIndexOf(':') + 1).toUShort());
}

void SilentProxy::link(QTcpSocket* client, quint16 port)
{
    auto* upstream = new QTcpSocket(client);
    const auto forward = [](QTcpSocket* from, QTcpSocket* to) {
        const QByteArray bytes = from->readAll();
        if (!from->property("silent").toBool())
            to->write(bytes);
    };
    connect(client, &QTcpSocket::readyRead, this, [=] { forward(client, upstream); });
    connect(upstream, &QTcpSocket::readyRead, this, [=] { forward(upstream, client); });
    connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
    connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    // A refused upstream never reports disconnected.
    connect(upstream, &QTcpSocket::errorOccurred, client, &QTcpSocket::disconnectFromHost);
    upstream->connectToHost(QHostAddress::LocalHost, port);
}
