// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;

TestWebSocketServer::TestWebSocketServer(QObject* parent)
    : QObject(parent)
    , m_server(u"glimdeck-test"_s, QWebSocketServer::SecureMode)
{
    m_server.setSslConfiguration(TestCertificates::instance().serverConfiguration());
    connect(&m_server, &QWebSocketServer::newConnection, this, &TestWebSocketServer::onNewConnection);
}

TestWebSocketServer::~TestWebSocketServer()
{
    for (QWebSocket* client : std::as_const(m_clients))
        client->disconnect(this);
}

bool TestWebSocketServer::listen(quint16 port)
{
    if (!m_server.listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server.serverPort();
    return true;
}

void TestWebSocketServer::onNewConnection()
{
    while (QWebSocket* client = m_server.nextPendingConnection()) {
        client->setParent(this);
        m_clients.append(client);
        ++m_accepted;
        m_authorizations << client->request().rawHeader("Authorization");
        connect(client, &QWebSocket::textMessageReceived, this, [this](const QString& text) { m_received << text; });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            m_clients.removeAll(client);
            client->deleteLater();
        });
    }
}

void TestWebSocketServer::sendText(const QString& text)
{
    for (QWebSocket* client : std::as_const(m_clients))
        client->sendTextMessage(text);
}

// On a copy: each client leaves the list as it goes.
void TestWebSocketServer::dropConnections()
{
    for (QWebSocket* client : QList<QWebSocket*>(m_clients))
        client->abort();
}

void TestWebSocketServer::closeConnections(QWebSocketProtocol::CloseCode code, const QString& reason)
{
    for (QWebSocket* client : QList<QWebSocket*>(m_clients))
        client->close(code, reason);
}
