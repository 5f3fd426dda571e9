#include "testhttpsserver.h"

#include "testcertificates.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>

TestHttpsServer::TestHttpsServer(QObject* parent)
    : QObject(parent)
{
    m_server.setSslConfiguration(TestCertificates::instance().serverConfiguration());
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, &TestHttpsServer::onPendingConnection);
}

bool TestHttpsServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

QUrl TestHttpsServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("https://localhost:%1%2").arg(port()).arg(path));
}

void TestHttpsServer::setResponse(const QString& path, int status, const QByteArray& body, int delayMs)
{
    Response response;
    response.status = status;
    response.body = body;
    response.delayMs = delayMs;
    setResponse(path, response);
}

void TestHttpsServer::onPendingConnection()
{
    while (QTcpSocket* pending = m_server.nextPendingConnection()) {
        auto* socket = qobject_cast<QSslSocket*>(pending);
        socket->setParent(this);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void TestHttpsServer::onReadyRead(QSslSocket* socket)
{
    QByteArray buffered = socket->property("request").toByteArray() + socket->readAll();
    const int end = int(buffered.indexOf("\r\n\r\n"));
    if (end < 0 || socket->property("answered").toBool()) {
        socket->setProperty("request", buffered);
        return;
    }
    socket->setProperty("answered", true);
    const QByteArray head = buffered.left(end);
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine.at(1)) : QString();
    m_requests.append(path);

    Response response;
    response.status = 404;
    response.body = "not found";
    response = m_responses.value(path, response);
    if (response.never)
        return;
    QPointer<QSslSocket> guarded(socket);
    QTimer::singleShot(response.delayMs, this, [this, guarded, response] {
        if (guarded)
            respond(guarded, response);
    });
}

void TestHttpsServer::respond(QSslSocket* socket, const Response& response)
{
    // Clients go by the status code; the reason phrase is free text.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status)
                      + " Reason\r\nContent-Type: " + response.contentType + "\r\nConnection: close\r\n";
    if (response.endless) {
        socket->write(head + "\r\n");
        connect(socket, &QSslSocket::encryptedBytesWritten, this, [this, socket] { feedEndless(socket); });
        feedEndless(socket);
        return;
    }
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
    socket->write(head + response.body);
    socket->disconnectFromHost();
}

void TestHttpsServer::feedEndless(QSslSocket* socket)
{
    static const QByteArray CHUNK(256 * 1024, 'x');
    // Keep a little ahead of the peer rather than filling memory on this side.
    if (socket->bytesToWrite() < 4 * CHUNK.size())
        socket->write(CHUNK);
}
