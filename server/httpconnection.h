#pragma once

#include "httprequest.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <utility>

class QTcpSocket;

// Reads one HTTP request and sends one answer, then closes. The server sees the head first and
// decides: answer at once, take the announced body (bodyReceived follows), or take the socket
// over for a WebSocket, its head still unread.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MAX_DRAIN_BYTES = 256 * 1024 * 1024;

    struct Timeouts
    {
        int headMs; // from accepting to a whole request head, TLS handshake included
        int idleMs; // longest silence once the head is in
    };

    HttpConnection(QTcpSocket* socket, qint64 maxBodyBytes, Timeouts timeouts, QObject* parent);

    const HttpRequest& request() const { return m_request; }
    // The body, handed over once and no longer held here.
    QByteArray takeBody() { return std::exchange(m_request.body, QByteArray()); }
    QTcpSocket* socket() const { return m_socket; }
    QHostAddress peerAddress() const;
    qint64 ageMs() const { return m_age.elapsed(); }
    // A HEAD request gets the same head without the body. Every answer carries the safe headers;
    // headers adds lines of its own, each ending in CRLF.
    void respond(int status, const QByteArray& contentType, const QByteArray& body,
                 const QByteArray& headers = QByteArray());
    void readBody();
    // Hands the socket over; this object deletes itself.
    QTcpSocket* takeSocket();
    void abort();

signals:
    void headReceived(HttpConnection* connection);
    void bodyReceived(HttpConnection* connection);

private:
    void onReadyRead();
    void readHead();
    bool checkLength();
    void drain();

    QTcpSocket* m_socket;
    qint64 m_maxBodyBytes;
    Timeouts m_timeouts;
    HttpRequest m_request;
    bool m_headRead = false;
    bool m_readingBody = false;
    bool m_answered = false;
    qint64 m_drainRemaining = 0;
    QTimer m_timer;
    QElapsedTimer m_age;
};
