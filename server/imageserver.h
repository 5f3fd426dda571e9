#pragma once

#include "roomhub.h"

#include <QDir>
#include <QObject>
#include <QSslConfiguration>
#include <QSslServer>
#include <QWebSocketServer>

class HttpConnection;
class QSslSocket;
struct HttpRequest;

// One TLS port: the secure WebSocket on "/", and over HTTPS the upload page, the uploads, the
// stored pictures and the count of connected clients.
class ImageServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DEFAULT_MAX_UPLOAD_BYTES = 32 * 1024 * 1024;

    ImageServer(const QSslConfiguration& tls, const QString& storage, qint64 maxUploadBytes, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    RoomHub& hub() { return m_hub; }

private:
    void onPendingConnection();
    void onUpgradeRequested(QSslSocket* socket, const HttpRequest& request);
    void onRequestReceived(HttpConnection* connection, const HttpRequest& request);
    void receiveUpload(HttpConnection* connection, const HttpRequest& request);
    void servePicture(HttpConnection* connection, const QString& path);

    QSslServer m_server;
    QWebSocketServer m_webSockets;
    RoomHub m_hub;
    QDir m_storage;
    qint64 m_maxUploadBytes;
};
