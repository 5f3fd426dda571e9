#pragma once

#include "httprequest.h"

#include <QObject>
#include <QTimer>

class QSslSocket;

// Reads one HTTP request from a TLS connection and sends one answer, then closes. A WebSocket
// upgrade is handed on untouched, its head still unread.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr int IDLE_TIMEOUT_MS = 30000;
    static constexpr qint64 MAX_DRAIN_BYTES = 256 * 1024 * 1024;

    HttpConnection(QSslSocket* socket, qint64 maxBodyBytes, QObject* parent);

    void respond(int status, const QByteArray& contentType, const QByteArray& body);

signals:
    void requestReceived(HttpConnection* connection, const HttpRequest& request);
    // The socket is the receiver's from now on; this object deletes itself.
    void upgradeRequested(QSslSocket* socket, const HttpRequest& request);

private:
    void onReadyRead();
    void readHead();
    void readBody();

    QSslSocket* m_socket;
    qint64 m_maxBodyBytes;
    HttpRequest m_request;
    qint64 m_bodyLength = -1;
    bool m_answered = false;
    qint64 m_drainRemaining = 0;
    QTimer m_idleTimer;
};
