// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "httprequest.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <utility>

class QTcpSocket;

// Reads HTTP requests one at a time and answers each. The server sees each head first and
// decides: answer at once, take the announced body (bodyReceived follows), or take the socket
// over for a WebSocket, its head still unread. A GET answered may keep the connection for the
// next request; everything else closes after its answer.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr char TEXT[] = "text/plain; charset=utf-8";
    static constexpr char HTML[] = "text/html; charset=utf-8";

    struct Timeouts
    {
        int headMs; // from accepting to a whole request head, TLS handshake included
        int idleMs; // longest silence once the head is in, or between two requests
        int bodyMs; // a whole body, however steadily it arrives
    };

    HttpConnection(QTcpSocket* socket, qint64 maxBodyBytes, Timeouts timeouts, QObject* parent);

    const HttpRequest& request() const { return m_request; }
    // The body, handed over once and no longer held here.
    QByteArray takeBody() { return std::exchange(m_request.body, QByteArray()); }
    QTcpSocket* socket() const { return m_socket; }
    QHostAddress peerAddress() const;
    qint64 ageMs() const { return m_age.elapsed(); }
    // Whether the peer has sent anything yet: its TLS greeting, or bytes of its request.
    bool peerSpoke() const { return m_peerSpoke; }
    // Requests read on this connection so far, the current one included.
    int requestCount() const { return m_requests; }
    // A HEAD request gets the same head without the body. Every answer carries the safe headers;
    // headers adds lines of its own, each ending in CRLF. The body goes out a chunk at a time as
    // the socket sends it, so a shared body (a picture) is never copied whole per reader.
    void respond(int status, const QByteArray& contentType, const QByteArray& body,
                 const QByteArray& headers = QByteArray());
    // Waits, without taking them, for the first bytes of the body (all of it when shorter):
    // bodyStartReceived follows. The body's deadline starts here.
    void readBodyStart(qint64 bytes);
    // The body is read and thrown away, a socket buffer at a time, while the answer goes out.
    void discardBody();
    void readBody();
    // Hands the socket over; this object deletes itself.
    QTcpSocket* takeSocket();
    void abort();

signals:
    void headReceived(HttpConnection* connection);
    void bodyStartReceived(HttpConnection* connection, const QByteArray& start);
    void bodyReceived(HttpConnection* connection);

private:
    enum class Stage { Head, Decided, BodyStart, Body, Answer };

    void onReadyRead();
    void onBytesSent();
    void readHead();
    bool checkLength();
    void readStart();
    void startBodyDeadline();
    void sendMore();
    void finishAnswer();
    bool keepsConnection(int status) const;
    void drain();

    QTcpSocket* m_socket;
    // Asked of every waiting connection for each newcomer: the socket would build it each time.
    QHostAddress m_peer;
    qint64 m_maxBodyBytes;
    Timeouts m_timeouts;
    HttpRequest m_request;
    Stage m_stage = Stage::Head;
    qint64 m_startBytes = 0;
    qint64 m_drainRemaining = 0;
    QByteArray m_answer; // head and body still to send, shared with whoever made the body
    qsizetype m_answerSent = 0;
    bool m_sending = false;
    bool m_keep = false;
    bool m_peerSpoke = false;
    int m_requests = 0;
    QTimer m_timer;
    QTimer m_bodyTimer;
    QElapsedTimer m_age;
};
