// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;

TestHttpsServer::TestHttpsServer(QObject* parent)
    : QObject(parent)
{
    m_server.setSslConfiguration(TestCertificates::instance().serverConfiguration());
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, &TestHttpsServer::onPendingConnection);
}

QUrl TestHttpsServer::url(const QString& path) const
{
    return QUrl(u"https://localhost:%1%2"_s.arg(port()).arg(path));
}

void TestHttpsServer::onPendingConnection()
{
    while (auto* socket = qobject_cast<QSslSocket*>(m_server.nextPendingConnection())) {
        ++m_connections;
        socket->setParent(this);
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    }
}

// The next request on the connection waits until this one is answered.
void TestHttpsServer::onReadyRead(QSslSocket* socket)
{
    const QByteArray buffered = socket->property("request").toByteArray() + socket->readAll();
    const qsizetype headEnd = buffered.indexOf("\r\n\r\n");
    if (headEnd < 0 || socket->property("answering").toBool()) {
        socket->setProperty("request", buffered);
        return;
    }
    socket->setProperty("request", buffered.mid(headEnd + 4));
    socket->setProperty("answering", true);
    const QString path = QString::fromUtf8(buffered.left(buffered.indexOf("\r\n")).split(' ').value(1));
    m_requests.append(path);
    const QByteArray head = buffered.left(headEnd);
    const qsizetype line = head.toLower().indexOf("\r\nauthorization:");
    m_authorizations.append(line < 0 ? QByteArray() : head.mid(line + 16).split('\r').first().trimmed());
    emit requested(path);
    const Response response = m_responses.value(path, Response{404, "not found"});
    if (response.never)
        return;
    QTimer::singleShot(response.delayMs, socket, [this, socket, response] { respond(socket, response); });
}

void TestHttpsServer::respond(QSslSocket* socket, const Response& response)
{
    const QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + " Reason\r\nContent-Type: " + response.contentType + "\r\n";
    if (response.endless) {
        socket->write(head + "Connection: close\r\n\r\n");
        connect(socket, &QSslSocket::encryptedBytesWritten, this, [this, socket] { feedEndless(socket); });
        feedEndless(socket);
        return;
    }
    socket->write(head + "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n" + response.body);
    socket->setProperty("answering", false);
    onReadyRead(socket); // a request that came meanwhile
}

void TestHttpsServer::feedEndless(QSslSocket* socket)
{
    static const QByteArray CHUNK(256 * 1024, 'x');
    if (socket->bytesToWrite() < 4 * CHUNK.size())
        socket->write(CHUNK);
}
