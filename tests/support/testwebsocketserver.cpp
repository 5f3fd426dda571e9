#include "testwebsocketserver.h"

#include "testcertificates.h"

#include <QHostAddress>
#include <QWebSocket>

TestWebSocketServer::TestWebSocketServer(QObject* parent)
    : QObject(parent)
    , m_server(QStringLiteral("glimdeck-test"), QWebSocketServer::SecureMode)
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

void TestWebSocketServer::stopListening()
{
    m_server.close();
}

QUrl TestWebSocketServer::url() const
{
    return QUrl(QStringLiteral("wss://localhost:%1").arg(m_port));
}

void TestWebSocketServer::onNewConnection()
{
    while (QWebSocket* client = m_server.nextPendingConnection()) {
        client->setParent(this);
        m_clients.append(client);
        ++m_accepted;
        connect(client, &QWebSocket::textMessageReceived, this,
                [this](const QString& message) { m_received.append(message); });
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

void TestWebSocketServer::dropConnections()
{
    const QList<QWebSocket*> clients = m_clients;
    for (QWebSocket* client : clients)
        client->abort();
}

void TestWebSocketServer::closeConnections(QWebSocketProtocol::CloseCode code, const QString& reason)
{
    const QList<QWebSocket*> clients = m_clients;
    for (QWebSocket* client : clients)
        client->close(code, reason);
}
