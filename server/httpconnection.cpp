// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpconnection.h"

#include "httpstatus.h"
#include "safeheaders.h"
#include "serverlimits.h"
#include "socketbacklog.h"

#include <QSslSocket>

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
    , m_peer(socket->peerAddress())
    , m_maxBodyBytes(maxBodyBytes)
    , m_timeouts(timeouts)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    if (auto* tls = qobject_cast<QSslSocket*>(m_socket))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &HttpConnection::onBytesSent);
    else
        connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::onBytesSent);
    // A peer that opens and says nothing, or sends its head a byte at a time, must not hold the
    // connection: the handshake and the head share one short deadline.
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpConnection::abort);
    m_timer.start(m_timeouts.headMs);
    m_bodyTimer.setSingleShot(true);
    connect(&m_bodyTimer, &QTimer::timeout, this, &HttpConnection::abort);
    m_age.start();
    // A connection that waited its turn may already hold its head, and its readyRead came
    // before we listened: no further byte will announce it.
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &HttpConnection::onReadyRead, Qt::QueuedConnection);
}

QHostAddress HttpConnection::peerAddress() const
{
    return m_socket ? m_peer : QHostAddress();
}

void HttpConnection::abort()
{
    if (m_socket)
        m_socket->abort();
    deleteLater();
}

void HttpConnection::onReadyRead()
{
    m_peerSpoke = true;
    switch (m_stage) {
    case Stage::Head:
        readHead();
        break;
    case Stage::BodyStart:
        readStart();
        break;
    case Stage::Body:
        readBody();
        break;
    case Stage::Answer:
        if (m_drainRemaining > 0)
            drain();
        break;
    case Stage::Decided:
        break; // a next request waits until this one is answered
    }
}

void HttpConnection::drain()
{
    m_drainRemaining -= m_socket->readAll().size();
    m_timer.start(m_timeouts.idleMs);
    if (m_drainRemaining <= 0 && !m_sending)
        m_socket->disconnectFromHost();
}

void HttpConnection::readHead()
{
    const QByteArray peeked = m_socket->peek(ServerLimits::MAX_HEAD_BYTES + 4);
    qsizetype length = 0;
    const qsizetype end = headEnd(peeked, length);
    if (end < 0) {
        if (peeked.size() >= ServerLimits::MAX_HEAD_BYTES)
            respond(431, TEXT, "En-tête trop long.\n");
        return;
    }
    m_stage = Stage::Decided;
    ++m_requests;
    if (!m_request.parseHead(peeked.left(end))) {
        respond(400, TEXT, "Requête illisible.\n");
        return;
    }
    m_timer.start(m_timeouts.idleMs);
    // A WebSocket keeps its head unread for the WebSocket server, which reads only CRLF heads.
    if (m_request.isWebSocketUpgrade()) {
        if (peeked.left(length).count('\n') != peeked.left(length).count("\r\n")) {
            respond(400, TEXT, "Fins de ligne CRLF attendues.\n");
            return;
        }
    } else {
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
        if (length <= ServerLimits::MAX_DRAIN_BYTES)
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

void HttpConnection::discardBody()
{
    startBodyDeadline();
    m_drainRemaining = qMax<qint64>(0, m_request.contentLength()) - m_socket->readAll().size();
}

void HttpConnection::startBodyDeadline()
{
    if (!m_bodyTimer.isActive())
        m_bodyTimer.start(m_timeouts.bodyMs);
}

void HttpConnection::readBodyStart(qint64 bytes)
{
    m_stage = Stage::BodyStart;
    m_startBytes = qMin(bytes, qMax<qint64>(0, m_request.contentLength()));
    startBodyDeadline();
    readStart();
}

void HttpConnection::readStart()
{
    if (m_socket->bytesAvailable() < m_startBytes) {
        m_timer.start(m_timeouts.idleMs);
        return;
    }
    m_stage = Stage::Decided;
    emit bodyStartReceived(this, m_socket->peek(m_startBytes));
}

void HttpConnection::readBody()
{
    m_stage = Stage::Body;
    startBodyDeadline();
    const qint64 length = qMax<qint64>(0, m_request.contentLength());
    if (m_request.body.capacity() < length)
        m_request.body.reserve(length);
    m_request.body += m_socket->read(length - m_request.body.size());
    if (m_request.body.size() < length) {
        m_timer.start(m_timeouts.idleMs);
        return;
    }
    m_stage = Stage::Decided;
    m_bodyTimer.stop();
    emit bodyReceived(this);
}

bool HttpConnection::keepsConnection(int status) const
{
    // An upgrade's head is left unread for the WebSocket server: nothing can follow it here.
    const bool fetch = (m_request.method == "GET" || m_request.method == "HEAD") && !m_request.isWebSocketUpgrade();
    return fetch && (status == 200 || status == 304 || status == 404) && m_request.version == "HTTP/1.1"
           && m_request.header("connection").toLower() != "close"
           && m_requests < ServerLimits::MAX_REQUESTS_PER_CONNECTION && m_drainRemaining <= 0;
}

void HttpConnection::respond(int status, const QByteArray& contentType, const QByteArray& body,
                             const QByteArray& headers)
{
    if (m_stage == Stage::Answer || !m_socket)
        return;
    m_stage = Stage::Answer;
    // A body still being read past keeps its overall deadline.
    if (m_drainRemaining <= 0)
        m_bodyTimer.stop();
    m_request.body.clear();
    m_request.body.squeeze();
    m_keep = keepsConnection(status);
    // A 304 has no body, and its length would be the unsent full answer's.
    const QByteArray length =
        status == 304 ? QByteArray() : "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    const QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + HttpStatus::reasonPhrase(status)
                            + "\r\nContent-Type: " + contentType + "\r\n" + SafeHeaders::LINES + headers + length
                            + "Connection: " + (m_keep ? "keep-alive" : "close") + "\r\n\r\n";
    m_socket->write(head);
    if (m_request.method != "HEAD" && status != 304)
        m_answer = body;
    m_answerSent = 0;
    m_sending = true;
    m_timer.start(m_timeouts.idleMs);
    sendMore();
}

void HttpConnection::onBytesSent()
{
    // Over TLS our first bytes are the handshake's answer to the peer's greeting.
    m_peerSpoke = true;
    if (m_stage != Stage::Answer)
        return;
    // A slow reader that keeps taking bytes keeps its connection: the deadline is between sends.
    m_timer.start(m_timeouts.idleMs);
    sendMore();
}

void HttpConnection::sendMore()
{
    while (m_answerSent < m_answer.size() && SocketBacklog::unsentBytes(m_socket) < ServerLimits::SEND_CHUNK_BYTES) {
        const qsizetype chunk = qMin<qsizetype>(ServerLimits::SEND_CHUNK_BYTES, m_answer.size() - m_answerSent);
        m_socket->write(m_answer.constData() + m_answerSent, chunk);
        m_answerSent += chunk;
    }
    if (m_sending && m_answerSent >= m_answer.size())
        finishAnswer();
}

void HttpConnection::finishAnswer()
{
    m_sending = false;
    m_answer = QByteArray();
    m_answerSent = 0;
    if (!m_keep) {
        if (m_drainRemaining <= 0)
            m_socket->disconnectFromHost();
        return;
    }
    // Ready for the next request, which may already be waiting.
    m_keep = false;
    m_request = HttpRequest();
    m_stage = Stage::Head;
    m_timer.start(m_timeouts.idleMs);
    if (m_socket->bytesAvailable() > 0)
        readHead();
}

QTcpSocket* HttpConnection::takeSocket()
{
    QTcpSocket* socket = m_socket;
    m_timer.stop();
    m_bodyTimer.stop();
    socket->disconnect(this);
    socket->setParent(nullptr);
    m_socket = nullptr;
    deleteLater();
    return socket;
}
