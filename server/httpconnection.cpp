#include "httpconnection.h"

#include "httpstatus.h"
#include "safeheaders.h"

#include <QTcpSocket>

namespace {

const QByteArray TEXT = "text/plain; charset=utf-8";

// The end of the head, blank line included; a head whose lines end in a bare line feed counts.
qsizetype headEnd(const QByteArray& bytes, qsizetype& length)
{
    const qsizetype crlf = bytes.indexOf("\r\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (lf >= 0 && (crlf < 0 || lf < crlf)) {
        length = lf + 2;
        return lf;
    }
    length = crlf + 4;
    return crlf;
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, qint64 maxBodyBytes, Timeouts timeouts, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_maxBodyBytes(maxBodyBytes)
    , m_timeouts(timeouts)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] { m_timer.start(m_timeouts.idleMs); });
    // A peer that opens and says nothing, or sends its head a byte at a time, must not hold the
    // connection: the handshake and the head share one short deadline.
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::abort);
    m_timer.start(m_timeouts.headMs);
    m_age.start();
}

QHostAddress HttpConnection::peerAddress() const
{
    return m_socket ? m_socket->peerAddress() : QHostAddress();
}

void HttpConnection::abort()
{
    if (m_socket)
        m_socket->abort();
    deleteLater();
}

void HttpConnection::onReadyRead()
{
    if (m_answered) {
        drain();
    } else if (m_readingBody) {
        readBody();
    } else if (!m_headRead) {
        readHead();
    }
}

void HttpConnection::drain()
{
    m_drainRemaining -= m_socket->readAll().size();
    if (m_drainRemaining <= 0)
        m_socket->disconnectFromHost();
}

void HttpConnection::readHead()
{
    const QByteArray peeked = m_socket->peek(HttpRequest::MAX_HEAD_BYTES + 4);
    qsizetype length = 0;
    const qsizetype end = headEnd(peeked, length);
    if (end < 0) {
        if (peeked.size() >= HttpRequest::MAX_HEAD_BYTES)
            respond(431, TEXT, "En-tête trop long.\n");
        return;
    }
    m_headRead = true;
    if (!m_request.parseHead(peeked.left(end))) {
        respond(400, TEXT, "Requête illisible.\n");
        return;
    }
    m_timer.start(m_timeouts.idleMs);
    // A WebSocket keeps its head unread for the WebSocket server.
    if (!m_request.isWebSocketUpgrade()) {
        m_socket->read(length);
        if (!checkLength())
            return;
    }
    emit headReceived(this);
}

bool HttpConnection::checkLength()
{
    const qint64 length = m_request.contentLength();
    if (length == -2) {
        respond(400, TEXT, "Content-Length illisible.\n");
        return false;
    }
    if (length > m_maxBodyBytes) {
        // Closing on a peer still sending resets the connection before it reads the answer;
        // swallow a bounded amount of the body first.
        if (length <= MAX_DRAIN_BYTES)
            m_drainRemaining = length - m_socket->readAll().size();
        respond(413, TEXT, "Envoi trop volumineux.\n");
        return false;
    }
    if (length < 0 && m_request.method == "POST") {
        respond(411, TEXT, "Content-Length manquant.\n");
        return false;
    }
    return true;
}

void HttpConnection::readBody()
{
    m_readingBody = true;
    const qint64 length = qMax<qint64>(0, m_request.contentLength());
    if (m_request.body.capacity() < length)
        m_request.body.reserve(length);
    m_request.body += m_socket->read(length - m_request.body.size());
    if (m_request.body.size() < length) {
        m_timer.start(m_timeouts.idleMs);
        return;
    }
    m_readingBody = false;
    emit bodyReceived(this);
}

void HttpConnection::respond(int status, const QByteArray& contentType, const QByteArray& body,
                             const QByteArray& headers)
{
    if (m_answered || !m_socket)
        return;
    m_answered = true;
    m_readingBody = false;
    m_request.body.clear();
    m_request.body.squeeze();
    // A 304 has no body, and its length would be the unsent full answer's.
    const QByteArray length =
        status == 304 ? QByteArray() : "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpStatus::reasonPhrase(status)
                            + "\r\nContent-Type: " + contentType + "\r\n" + SafeHeaders::LINES + headers + length
                            + "Connection: close\r\n\r\n";
    m_socket->write(m_request.method == "HEAD" ? head : head + body);
    if (m_drainRemaining <= 0)
        m_socket->disconnectFromHost();
    m_timer.start(m_timeouts.idleMs);
}

QTcpSocket* HttpConnection::takeSocket()
{
    QTcpSocket* socket = m_socket;
    m_timer.stop();
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    deleteLater();
    return socket;
}
