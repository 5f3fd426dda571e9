// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"

#include "httpconnection.h"
#include "httprequest.h"
#include "logtext.h"
#include "multipartform.h"
#include "protocol/roomname.h"
#include "serverlimits.h"
#include "socketbacklog.h"
#include "uploadpage.h"

#include <QDebug>
#include <QSslSocket>
#include <QUrl>
#include <QWebSocket>

namespace {

const QByteArray HTML = "text/html; charset=utf-8";
const QByteArray TEXT = "text/plain; charset=utf-8";

void respondPage(HttpConnection* connection, int status, const QString& text)
{
    connection->respond(status, HTML, UploadPage::result(QStringLiteral("Erreur"), text, true));
}

// An upload refused before its body is taken: a browser still sending would lose the answer to
// the reset a close on unread data causes, so the body is read past, never held.
void refuseUnread(HttpConnection* connection, int status, const QString& text)
{
    connection->discardBody();
    respondPage(connection, status, text);
}

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
              {"MAX_MESSAGE_LENGTH", QByteArray::number(MAX_MESSAGE_LENGTH)},
              {"MAX_WIDTH", QByteArray::number(PictureStore::MAX_WIDTH)},
              {"MAX_HEIGHT", QByteArray::number(PictureStore::MAX_HEIGHT)},
              {"JPEG_QUALITY", QByteArray::number(PictureStore::JPEG_QUALITY)},
              {"SHARE_PATH", SHARE_PATH}})
    , m_uploadKey(options.uploadKey)
    , m_viewKey(options.viewKey)
    , m_decoder(options.decoderProgram)
    , m_bodies(UPLOADS_IN_FLIGHT * options.maxUploadBytes, options.maxUploadBytes)
    , m_pictures(ServerLimits::MAX_SENDING_PICTURE_BYTES)
{
    m_options.tls = ServerOptions::secureConfiguration(options.tls);
    m_listener.setTls(!options.plain);
    // Connections are taken a batch per turn of the event loop, between the handshakes and
    // answers under way; behind a proxy every connection is the proxy's.
    m_listener.setWaitBounds(ServerLimits::MAX_ACCEPTED_WAITING, options.plain ? 0 : options.maxConnectionsPerAddress,
                             options.headTimeoutMs);
    m_listener.setListenBacklogSize(ServerLimits::LISTEN_BACKLOG);
    m_webSockets.setMaxPendingConnections(1 << 20);
    m_webSockets.setHandshakeTimeout(std::chrono::milliseconds(options.headTimeoutMs));
    connect(&m_listener, &QTcpServer::newConnection, this, &ImageServer::onNewConnection);
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
    if (!m_listener.listen(address, port)) {
        qWarning().noquote() << "Écoute impossible sur" << address.toString() << port << ":"
                             << m_listener.errorString();
        return false;
    }
    qInfo().noquote() << "glimdeck-server écoute sur"
                      << (m_options.plain ? "http://" : "https://") + address.toString() + ":"
                             + QString::number(this->port())
                      << "; images dans" << m_store.folder();
    return true;
}

void ImageServer::onNewConnection()
{
    scheduleTake(0);
}

void ImageServer::scheduleTake(int delayMs)
{
    if (m_takeScheduled)
        return;
    m_takeScheduled = true;
    QTimer::singleShot(delayMs, this, &ImageServer::takeConnections);
}

// While every waiting place is taken by a handshake under way, newcomers stay in the kernel's
// backlog: turned away, a crowd's later members would lose their place to its earlier ones.
void ImageServer::takeConnections()
{
    m_takeScheduled = false;
    for (int i = 0; i < ServerLimits::CONNECTIONS_TAKEN_PER_TURN && m_listener.hasPendingConnections(); ++i) {
        if (!makeRoomToWait()) {
            scheduleTake(ServerLimits::WAITING_FULL_RETRY_MS);
            return;
        }
        QTcpSocket* socket = m_listener.nextPendingConnection();
        if (!socket)
            return;
        onConnectionAccepted(socket);
    }
    if (m_listener.hasPendingConnections())
        scheduleTake(0);
}

bool ImageServer::makeRoomToWait()
{
    m_waiting.removeAll(nullptr);
    return m_waiting.size() < MAX_WAITING || evictOldest(m_waiting);
}

void ImageServer::onConnectionAccepted(QTcpSocket* socket)
{
    if (m_connections >= m_options.maxConnections) {
        m_limits.logOffence(socket->peerAddress(), QStringLiteral("plus de connexions possibles au total"));
        m_waiting.removeAll(nullptr);
        // A newcomer takes the place of the oldest connection still silent, if there is one.
        if (!evictOldest(m_waiting)) {
            socket->abort();
            delete socket;
            return;
        }
    }
    ++m_connections;
    connect(PeerLimits::lifeOf(socket), &QObject::destroyed, this, [this] { --m_connections; });
    auto* connection =
        new HttpConnection(socket, m_options.maxUploadBytes,
                           {m_options.headTimeoutMs, m_options.idleTimeoutMs, m_options.bodyTimeoutMs}, this);
    connect(connection, &HttpConnection::headReceived, this, &ImageServer::onHeadReceived);
    connect(connection, &HttpConnection::bodyStartReceived, this, &ImageServer::onBodyStartReceived);
    connect(connection, &HttpConnection::bodyReceived, this, &ImageServer::onBodyReceived);
    connect(connection, &QObject::destroyed, this, [this, connection] { m_bodies.release(m_bodies.take(connection)); });
    // A connection turned away costs no TLS set-up.
    if (!admitWaiting(connection))
        return;
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->setSslConfiguration(m_options.tls);
        tls->startServerEncryption();
    }
}

bool ImageServer::admitWaiting(HttpConnection* connection)
{
    m_waiting.removeAll(nullptr);
    QList<QPointer<HttpConnection>> same;
    for (const QPointer<HttpConnection>& waiting : std::as_const(m_waiting)) {
        if (!m_options.plain && waiting->peerAddress() == connection->peerAddress())
            same.append(waiting);
    }
    const bool addressFull = same.size() >= qMin(m_options.maxConnectionsPerAddress, MAX_WAITING);
    if (addressFull && !evictOldest(same)) {
        connection->abort();
        return false;
    }
    m_waiting.append(connection);
    return true;
}

// Drops the oldest of waiting (the first) that may make way; false when nothing was dropped. A
// silent one may once it has waited evictAfterMs. One whose peer has spoken is in its handshake:
// later, and never while bytes of its wait unread, for then it waits on us; a crowd whose
// handshakes we are slow to run must not push its own members out before any of them is done.
bool ImageServer::evictOldest(const QList<QPointer<HttpConnection>>& waiting)
{
    const qsizetype looked = qMin<qsizetype>(waiting.size(), EVICTION_CANDIDATES);
    for (qsizetype i = 0; i < looked; ++i) {
        HttpConnection* candidate = waiting.at(i).data();
        if (!candidate)
            continue;
        if (candidate->ageMs() < m_options.evictAfterMs)
            return false;
        if (candidate->peerSpoke()
            && (candidate->ageMs() < SPOKEN_EVICTION_FACTOR * m_options.evictAfterMs
                || SocketBacklog::unreadBytes(candidate->socket()) > 0))
            continue;
        m_waiting.removeOne(candidate);
        candidate->abort();
        return true;
    }
    return false;
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
    m_waiting.removeOne(connection);
    const QHostAddress client = clientAddress(connection);
    // A kept connection was counted with its first request.
    if (connection->requestCount() == 1 && !m_limits.admit(client, connection->socket())) {
        connection->respond(429, TEXT, "Trop de connexions depuis votre adresse.\n");
        return;
    }
    const HttpRequest& request = connection->request();
    if ((request.isWebSocketUpgrade() || request.path == QLatin1String("/users")) && !mayView(connection, client))
        return;
    if (request.isWebSocketUpgrade()) {
        upgrade(connection);
    } else if (request.path == QLatin1String("/upload") || request.path == QLatin1String(SHARE_PATH)) {
        if (request.method != "POST")
            connection->respond(405, TEXT, "Envoyez le formulaire avec POST.\n");
        else if (request.path == QLatin1String(SHARE_PATH))
            answerShare(connection, client);
        else
            startUpload(connection, client);
    } else {
        routeRequest(connection);
    }
}

void ImageServer::routeRequest(HttpConnection* connection)
{
    const HttpRequest& request = connection->request();
    if (request.method != "GET" && request.method != "HEAD")
        connection->respond(405, TEXT, "Méthode non prise en charge.\n");
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
        connection->respond(200, TEXT, QByteArray::number(m_hub.clientCount()));
        return;
    }
    m_group->count().total([guarded = QPointer<HttpConnection>(connection)](qint64 count) {
        if (guarded)
            guarded->respond(200, TEXT, QByteArray::number(count));
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
        connection->respond(404, TEXT, "Introuvable.\n");
        break;
    case PictureCache::Outcome::Full:
        m_limits.logOffence(clientAddress(connection), QStringLiteral("trop d'images envoyées à la fois"));
        connection->respond(503, TEXT, "Serveur occupé ; réessayez dans un instant.\n");
        break;
    }
}

void ImageServer::upgrade(HttpConnection* connection)
{
    const HttpRequest& request = connection->request();
    if (request.path != QLatin1String("/")) {
        connection->respond(404, TEXT, "Introuvable.\n");
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
        connection->respond(403, TEXT, "Origine refusée.\n");
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
    connection->respond(401, TEXT, "Clé de lecture nécessaire.\n");
    return false;
}

// Every try is charged, a wrong key as a right one, so keys cannot be guessed at speed.
bool ImageServer::chargeUpload(HttpConnection* connection, const QHostAddress& client)
{
    if (m_limits.allowUpload(client))
        return true;
    refuseUnread(connection, 429, QStringLiteral("Trop d'envois depuis votre adresse ; réessayez dans une minute."));
    return false;
}

void ImageServer::startUpload(HttpConnection* connection, const QHostAddress& client)
{
    if (!chargeUpload(connection, client))
        return;
    const QByteArray key = connection->request().header("x-upload-key");
    if (!key.isEmpty() || !m_uploadKey.isSet()) {
        if (m_uploadKey.matches(key))
            readUploadBody(connection, client);
        else
            refuseKey(connection, client);
        return;
    }
    // The key is then the form's first field: known before the body's memory is set aside.
    connection->readBodyStart(ServerLimits::FORM_LEAD_BYTES);
}

void ImageServer::onBodyStartReceived(HttpConnection* connection, const QByteArray& start)
{
    QString name;
    QByteArray key;
    const QByteArray boundary = MultipartForm::boundaryOf(connection->request().header("content-type"));
    if (!MultipartForm::firstField(start, boundary, name, key) || name != QLatin1String("key")
        || !m_uploadKey.matches(key.trimmed())) {
        refuseKey(connection, clientAddress(connection));
        return;
    }
    readUploadBody(connection, clientAddress(connection));
}

void ImageServer::refuseKey(HttpConnection* connection, const QHostAddress& client)
{
    m_limits.logOffence(client, QStringLiteral("clé d'envoi refusée"));
    refuseUnread(connection, 403, QStringLiteral("Clé d'envoi refusée."));
}

void ImageServer::readUploadBody(HttpConnection* connection, const QHostAddress& client)
{
    const qint64 length = qMax<qint64>(0, connection->request().contentLength());
    if (!m_bodies.reserve(connection, client, length)) {
        m_limits.logOffence(client, QStringLiteral("envois en cours trop volumineux"));
        refuseUnread(connection, 503, QStringLiteral("Serveur occupé ; réessayez dans un instant."));
        return;
    }
    connection->readBody();
}

bool ImageServer::readUploadForm(HttpConnection* connection, UploadFields& fields)
{
    MultipartForm form;
    if (!form.parse(connection->takeBody(), MultipartForm::boundaryOf(connection->request().header("content-type")))) {
        respondPage(connection, 400, QStringLiteral("Formulaire illisible."));
        return false;
    }
    for (const QString& field : {QStringLiteral("room"), QStringLiteral("picture"), QStringLiteral("message")}) {
        if (!form.contains(field)) {
            respondPage(connection, 400, QStringLiteral("Champ manquant : ") + field);
            return false;
        }
    }
    fields.room = RoomName::valid(QString::fromUtf8(form.part(QStringLiteral("room")).data));
    fields.message = QString::fromUtf8(form.part(QStringLiteral("message")).data);
    fields.picture = form.part(QStringLiteral("picture")).data;
    if (fields.room.isEmpty()) {
        respondPage(connection, 400,
                    QStringLiteral("Le groupe doit compter de 1 à %1 caractères.").arg(RoomName::MAX_LENGTH));
        return false;
    }
    if (fields.message.size() > MAX_MESSAGE_LENGTH) {
        respondPage(connection, 400,
                    QStringLiteral("Le message doit compter au plus %1 caractères.").arg(MAX_MESSAGE_LENGTH));
        return false;
    }
    return true;
}

void ImageServer::onBodyReceived(HttpConnection* connection)
{
    const BodyBudget::Reservation reserved = m_bodies.take(connection);
    UploadFields fields;
    if (!readUploadForm(connection, fields)) {
        m_bodies.release(reserved);
        return;
    }
    // The reservation stays until the picture is decoded, so bodies waiting for the decoder count too.
    const QPointer<HttpConnection> guarded(connection);
    m_decoder.reencode(fields.picture, [this, guarded, fields, reserved](const PictureStore::Encoded& picture) {
        m_bodies.release(reserved);
        finishUpload(guarded, fields, picture);
    });
}

// The page's service worker takes a picture shared from the gallery before it leaves the phone.
// One that reaches the server came without it: the page opens and asks for the picture again.
void ImageServer::answerShare(HttpConnection* connection, const QHostAddress& client)
{
    // It carries no key: it costs the sender an upload, and its body is read past, never held.
    if (!chargeUpload(connection, client))
        return;
    connection->discardBody();
    qInfo().noquote() << "Partage reçu sans le service de la page ; page d'envoi rouverte";
    connection->respond(303, TEXT, "Choisissez l'image à nouveau.\n", "Location: /?partage\r\n");
}

void ImageServer::finishUpload(QPointer<HttpConnection> connection, const UploadFields& fields,
                               const PictureStore::Encoded& picture)
{
    if (!connection)
        return;
    if (picture.bytes.isEmpty()) {
        respondPage(connection, 415,
                    picture.refusal.isEmpty() ? QStringLiteral("Ce fichier n'est pas une image lisible.")
                                              : picture.refusal);
        return;
    }
    if (!m_store.fits(picture)) {
        respondPage(connection, 413, QStringLiteral("Image trop volumineuse pour la place réservée aux images."));
        return;
    }
    const QString path = m_store.store(picture);
    if (path.isEmpty()) {
        respondPage(connection, 500, QStringLiteral("Enregistrement impossible."));
        return;
    }
    qInfo().noquote() << "Image reçue pour le groupe" << LogText::quoted(fields.room) << ":" << path
                      << fields.picture.size() << "octets, gardée en" << picture.bytes.size() << "octets";
    const int sent = m_hub.broadcast(fields.room, path, fields.message);
    connection->respond(
        200, HTML,
        UploadPage::result(QStringLiteral("Image envoyée"),
                           QStringLiteral("Image envoyée au groupe %1 (%2 clients).").arg(fields.room).arg(sent),
                           false));
}
