#include "httpconnection.h"

#include <QSslSocket>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Internal Server Error";
    }
}

} // namespace

HttpConnection::HttpConnection(QSslSocket* socket, qint64 maxBodyBytes, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_maxBodyBytes(maxBodyBytes)
{
    m_socket->setParent(this);
    connect(m_socket, &QSslSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QSslSocket::disconnected, this, &QObject::deleteLater);
    // A peer that opens and says nothing must not hold the connection forever.
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, m_socket, &QSslSocket::abort);
    m_idleTimer.start(IDLE_TIMEOUT_MS);
}

void HttpConnection::onReadyRead()
{
    if (m_answered) {
        m_drainRemaining -= m_socket->readAll().size();
        if (m_drainRemaining <= 0)
            m_socket->disconnectFromHost();
        return;
    }
    if (m_bodyLength < 0)
        readHead();
    else
        readBody();
}

void HttpConnection::readHead()
{
    const QByteArray peeked = m_socket->peek(HttpRequest::MAX_HEAD_BYTES + 4);
    const int end = int(peeked.indexOf("\r\n\r\n"));
    if (end < 0) {
        if (peeked.size() >= HttpRequest::MAX_HEAD_BYTES)
            respond(431, "text/plain; charset=utf-8", "En-tête trop long.\n");
        return;
    }
    if (!m_request.parseHead(peeked.left(end))) {
        respond(400, "text/plain; charset=utf-8", "Requête illisible.\n");
        return;
    }
    if (m_request.isWebSocketUpgrade()) {
        m_idleTimer.stop();
        m_socket->disconnect(this);
        m_socket->setParent(nullptr);
        emit upgradeRequested(m_socket, m_request);
        m_socket = nullptr;
        deleteLater();
        return;
    }
    m_socket->read(end + 4);
    const qint64 length = m_request.contentLength();
    if (length == -2) {
        respond(400, "text/plain; charset=utf-8", "Content-Length illisible.\n");
        return;
    }
    if (length > m_maxBodyBytes) {
        // Closing on a peer still sending resets the connection before it reads the answer;
        // swallow a bounded amount of the body first.
        if (length <= MAX_DRAIN_BYTES)
            m_drainRemaining = length - m_socket->readAll().size();
        respond(413, "text/plain; charset=utf-8", "Envoi trop volumineux.\n");
        return;
    }
    if (length < 0 && m_request.method == "POST") {
        respond(411, "text/plain; charset=utf-8", "Content-Length manquant.\n");
        return;
    }
    m_bodyLength = qMax<qint64>(0, length);
    readBody();
}

void HttpConnection::readBody()
{
    m_request.body += m_socket->read(m_bodyLength - m_request.body.size());
    if (m_request.body.size() < m_bodyLength)
        return;
    m_idleTimer.stop();
    emit requestReceived(this, m_request);
}

void HttpConnection::respond(int status, const QByteArray& contentType, const QByteArray& body)
{
    if (m_answered || !m_socket)
        return;
    m_answered = true;
    const QByteArray head =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    m_socket->write(head + body);
    if (m_drainRemaining <= 0)
        m_socket->disconnectFromHost();
    m_idleTimer.start(IDLE_TIMEOUT_MS);
}
