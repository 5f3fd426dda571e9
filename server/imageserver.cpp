// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"

#include "httpconnection.h"
#include "httprequest.h"
#include "protocol/roomname.h"
#include "serverlimits.h"
#include "uploadpage.h"

#include <QDebug>
#include <QUrl>
#include <QWebSocket>

namespace {

// Revalidated at every visit, so a new server's page is seen at once and an unchanged one costs
// a short 304.
void respondFile(HttpConnection* connection, const UploadPage::File& file)
{
    const QByteArray headers = "ETag: " + file.etag + "\r\nCache-Control: no-cache\r\n";
    if (connection->request().header("if-none-match") == file.etag)
        connection->respond(304, file.contentType, QByteArray(), headers);
    else
        connection->respond(200, file.contentType, file.bytes, headers);
}

} // namespace

ImageServer::ImageServer(const ServerOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_webSockets(QStringLiteral("glimdeck-server"), QWebSocketServer::NonSecureMode)
    , m_hub(options.pingIntervalMs)
    , m_store(options.storage, options.maxAgeHours, options.quotaBytes)
    , m_limits(options.maxConnectionsPerAddress, options.uploadsPerMinute)
    , m_page({{"MAX_ROOM_LENGTH", QByteArray::number(RoomName::MAX_LENGTH)},
              {"MAX_MESSAGE_LENGTH", QByteArray::number(ServerLimits::MAX_MESSAGE_LENGTH)},
              {"MAX_WIDTH", QByteArray::number(ServerLimits::MAX_PICTURE_WIDTH)},
              {"MAX_HEIGHT", QByteArray::number(ServerLimits::MAX_PICTURE_HEIGHT)},
              {"JPEG_QUALITY", QByteArray::number(PictureStore::JPEG_QUALITY)},
              {"SHARE_PATH", SHARE_PATH}})
    , m_viewKey(options.viewKey)
    , m_uploads(m_options, m_limits, m_store, m_hub)
    , m_pictures(ServerLimits::MAX_SENDING_PICTURE_BYTES)
    , m_gate(m_options, m_limits)
{
    m_options.tls = ServerOptions::secureConfiguration(options.tls);
    m_webSockets.setMaxPendingConnections(ServerLimits::MAX_WEBSOCKETS_PENDING);
    m_webSockets.setHandshakeTimeout(std::chrono::milliseconds(options.headTimeoutMs));
    connect(&m_gate, &ConnectionGate::connectionOpened, this, &ImageServer::onConnectionOpened);
    connect(&m_store, &PictureStore::removed, &m_hub, &RoomHub::forget);
    // The connection is already open (and encrypted) when it is handed over: plain WebSocket here.
    connect(&m_webSockets, &QWebSocketServer::newConnection, this, &ImageServer::onWebSocketConnected);
    if (!options.redis.isEmpty())
        m_group =
            std::make_unique<InstanceGroup>(options.redis, options.redisInstance, m_hub, m_store, options.maxAgeHours);
}

// Sockets still upgrading have no parent: they go with the server, taken out of the list first
// since closing one answers its own disconnection.
ImageServer::~ImageServer()
{
    const QList<QPointer<QTcpSocket>> upgrading = std::exchange(m_upgrading, {});
    for (const QPointer<QTcpSocket>& socket : upgrading)
        delete socket.data();
}

bool ImageServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_gate.listen(address, port)) {
        qWarning().noquote() << "Écoute impossible sur" << address.toString() << port << ":" << m_gate.errorString();
        return false;
    }
    qInfo().noquote() << "glimdeck-server écoute sur"
                      << (m_options.plain ? "http://" : "https://") + address.toString() + ":"
                             + QString::number(this->port())
                      << "; images dans" << m_store.folder();
    return true;
}

void ImageServer::onConnectionOpened(HttpConnection* connection)
{
    connect(connection, &HttpConnection::headReceived, this, &ImageServer::onHeadReceived);
    connect(connection, &HttpConnection::bodyStartReceived, this, &ImageServer::onBodyStartReceived);
    m_uploads.watch(connection);
}

QHostAddress ImageServer::clientAddress(const HttpConnection* connection) const
{
    const QHostAddress peer = connection->peerAddress();
    if (!m_options.plain || peer != m_options.trustedProxy)
        return peer;
    // Behind the local proxy, the client is whom the proxy says; it appends its own peer last.
    QByteArray forwarded = connection->request().header("x-real-ip");
    if (forwarded.isEmpty())
        forwarded = connection->request().header("x-forwarded-for").split(',').last().trimmed();
    const QHostAddress client(QString::fromLatin1(forwarded));
    return client.isNull() ? peer : client;
}

void ImageServer::onHeadReceived(HttpConnection* connection)
{
    const QHostAddress client = clientAddress(connection);
    if (!m_gate.admit(connection, client))
        return;
    const HttpRequest& request = connection->request();
    if ((request.isWebSocketUpgrade() || request.path == QLatin1String("/users")) && !mayView(connection, client))
        return;
    if (request.isWebSocketUpgrade())
        upgrade(connection);
    else if (request.path == QLatin1String("/upload") || request.path == QLatin1String(SHARE_PATH))
        routeUpload(connection, client);
    else
        routeRequest(connection);
}

void ImageServer::routeUpload(HttpConnection* connection, const QHostAddress& client)
{
    const HttpRequest& request = connection->request();
    if (request.method != "POST")
        connection->respond(405, HttpConnection::TEXT, "Envoyez le formulaire avec POST.\n");
    else if (request.path == QLatin1String(SHARE_PATH))
        m_uploads.answerShare(connection, client);
    else
        m_uploads.startUpload(connection, client);
}

void ImageServer::onBodyStartReceived(HttpConnection* connection, const QByteArray& start)
{
    m_uploads.onBodyStartReceived(connection, start, clientAddress(connection));
}

void ImageServer::routeRequest(HttpConnection* connection)
{
    const HttpRequest& request = connection->request();
    if (request.method != "GET" && request.method != "HEAD")
        connection->respond(405, HttpConnection::TEXT, "Méthode non prise en charge.\n");
    else if (const UploadPage::File* file = m_page.file(request.path))
        respondFile(connection, *file);
    else if (request.path == QLatin1String("/users"))
        respondCount(connection);
    else
        respondPicture(connection);
}

void ImageServer::respondCount(HttpConnection* connection)
{
    if (!m_group) {
        connection->respond(200, HttpConnection::TEXT, QByteArray::number(m_hub.clientCount()));
        return;
    }
    m_group->count().total([guarded = QPointer<HttpConnection>(connection)](qint64 count) {
        if (guarded)
            guarded->respond(200, HttpConnection::TEXT, QByteArray::number(count));
    });
}

void ImageServer::respondPicture(HttpConnection* connection)
{
    QByteArray bytes;
    QByteArray contentType;
    switch (m_pictures.read(m_store, connection->request().path, bytes, contentType)) {
    case PictureCache::Outcome::Found:
        connection->respond(200, contentType, bytes);
        break;
    case PictureCache::Outcome::Missing:
        connection->respond(404, HttpConnection::TEXT, "Introuvable.\n");
        break;
    case PictureCache::Outcome::Full:
        m_limits.logOffence(clientAddress(connection), QStringLiteral("trop d'images envoyées à la fois"));
        connection->respond(503, HttpConnection::TEXT, "Serveur occupé ; réessayez dans un instant.\n");
        break;
    }
}

void ImageServer::upgrade(HttpConnection* connection)
{
    const HttpRequest& request = connection->request();
    if (request.path != QLatin1String("/")) {
        connection->respond(404, HttpConnection::TEXT, "Introuvable.\n");
        return;
    }
    // Browsers always name the page's origin; a page elsewhere must not use our clients' rooms.
    // Glim-deck sends none.
    const QByteArray origin = request.header("origin");
    if (!origin.isEmpty()
        && QUrl(QString::fromLatin1(origin))
                   .authority()
                   .compare(QString::fromLatin1(request.header("host")), Qt::CaseInsensitive)
               != 0) {
        connection->respond(403, HttpConnection::TEXT, "Origine refusée.\n");
        return;
    }
    // The WebSocket server neither keeps nor frees the socket: it goes after its WebSocket (see
    // onWebSocketConnected), or by itself when the WebSocket handshake fails.
    QTcpSocket* socket = connection->takeSocket();
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_upgrading.removeOne(socket))
            socket->deleteLater();
    });
    m_upgrading.removeAll(nullptr);
    m_upgrading.append(socket);
    // The WebSocket server sets no deadline of its own on a socket handed over: one that never
    // finishes its handshake is closed here.
    QTimer::singleShot(m_options.headTimeoutMs, this, [this, guarded = QPointer<QTcpSocket>(socket)] {
        if (guarded && m_upgrading.contains(guarded))
            guarded->abort();
    });
    m_webSockets.handleConnection(socket);
}

void ImageServer::onWebSocketConnected()
{
    while (QWebSocket* client = m_webSockets.nextPendingConnection()) {
        for (const QPointer<QTcpSocket>& socket : std::as_const(m_upgrading)) {
            if (socket && socket->peerPort() == client->peerPort() && socket->peerAddress() == client->peerAddress()) {
                connect(client, &QObject::destroyed, socket, &QObject::deleteLater);
                m_upgrading.removeOne(QPointer<QTcpSocket>(socket));
                m_hub.addClient(client, socket);
                client = nullptr;
                break;
            }
        }
        if (client)
            m_hub.addClient(client, nullptr);
    }
}

bool ImageServer::mayView(HttpConnection* connection, const QHostAddress& client)
{
    if (m_viewKey.matches(SecretKey::bearerToken(connection->request().header("authorization"))))
        return true;
    m_limits.logOffence(client, QStringLiteral("clé de lecture absente ou fausse"));
    connection->respond(401, HttpConnection::TEXT, "Clé de lecture nécessaire.\n");
    return false;
}
