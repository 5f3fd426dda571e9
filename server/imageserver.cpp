#include "imageserver.h"

#include "httpconnection.h"
#include "httprequest.h"
#include "logtext.h"
#include "multipartform.h"
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
    connection->respond(status, HTML, UploadPage::result(QStringLiteral("Erreur"), text));
}

} // namespace

ImageServer::ImageServer(const ServerOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_webSockets(QStringLiteral("glimdeck-server"), QWebSocketServer::NonSecureMode)
    , m_hub(options.pingIntervalMs)
    , m_store(options.storage, options.maxAgeHours, options.quotaBytes)
    , m_limits(options.maxConnectionsPerAddress, options.uploadsPerMinute)
    , m_viewKey(options.viewKey)
    , m_decoder(options.decoderProgram)
{
    m_options.tls = ServerOptions::secureConfiguration(options.tls);
    m_listener.setMaxPendingConnections(1 << 20);
    m_webSockets.setMaxPendingConnections(1 << 20);
    m_webSockets.setHandshakeTimeout(std::chrono::milliseconds(options.headTimeoutMs));
    connect(&m_listener, &ConnectionListener::connectionAccepted, this, &ImageServer::onConnectionAccepted);
    // The connection is already open (and encrypted) when it is handed over: plain WebSocket here.
    connect(&m_webSockets, &QWebSocketServer::newConnection, this, &ImageServer::onWebSocketConnected);
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

void ImageServer::onConnectionAccepted(qintptr descriptor)
{
    QTcpSocket* socket = m_options.plain ? new QTcpSocket : new QSslSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
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
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->setSslConfiguration(m_options.tls);
        tls->startServerEncryption();
    }
    auto* connection =
        new HttpConnection(socket, m_options.maxUploadBytes, {m_options.headTimeoutMs, m_options.idleTimeoutMs}, this);
    connect(connection, &HttpConnection::headReceived, this, &ImageServer::onHeadReceived);
    connect(connection, &HttpConnection::bodyReceived, this, &ImageServer::onBodyReceived);
    connect(connection, &QObject::destroyed, this,
            [this, connection] { m_bodyBytes -= m_reservedBodies.take(connection); });
    admitWaiting(connection);
}

void ImageServer::admitWaiting(HttpConnection* connection)
{
    m_waiting.removeAll(nullptr);
    QList<QPointer<HttpConnection>> same;
    for (const QPointer<HttpConnection>& waiting : std::as_const(m_waiting)) {
        if (!m_options.plain && waiting->peerAddress() == connection->peerAddress())
            same.append(waiting);
    }
    const bool addressFull = same.size() >= qMin(m_options.maxConnectionsPerAddress, MAX_WAITING);
    if ((addressFull && !evictOldest(same)) || (m_waiting.size() >= MAX_WAITING && !evictOldest(m_waiting))) {
        connection->abort();
        return;
    }
    m_waiting.append(connection);
}

// Drops the first (oldest) of waiting unless it is too young; false when nothing was dropped.
bool ImageServer::evictOldest(const QList<QPointer<HttpConnection>>& waiting)
{
    HttpConnection* oldest = waiting.isEmpty() ? nullptr : waiting.first().data();
    if (!oldest || oldest->ageMs() < m_options.evictAfterMs)
        return false;
    m_waiting.removeOne(oldest);
    oldest->abort();
    return true;
}

QHostAddress ImageServer::clientAddress(const HttpConnection* connection) const
{
    const QHostAddress peer = connection->peerAddress();
    if (!m_options.plain || !peer.isLoopback())
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
    if (!m_limits.admit(client, connection->socket())) {
        connection->respond(429, TEXT, "Trop de connexions depuis votre adresse.\n");
        return;
    }
    const HttpRequest& request = connection->request();
    if ((request.isWebSocketUpgrade() || request.path == QLatin1String("/users")) && !mayView(connection, client))
        return;
    if (request.isWebSocketUpgrade()) {
        upgrade(connection);
    } else if (request.path == QLatin1String("/upload")) {
        if (request.method == "POST")
            startUpload(connection, client);
        else
            connection->respond(405, TEXT, "Envoyez le formulaire avec POST.\n");
    } else {
        routeRequest(connection);
    }
}

void ImageServer::routeRequest(HttpConnection* connection)
{
    const HttpRequest& request = connection->request();
    QByteArray bytes;
    QByteArray contentType;
    if (request.method != "GET" && request.method != "HEAD")
        connection->respond(405, TEXT, "Méthode non prise en charge.\n");
    else if (request.path == QLatin1String("/"))
        connection->respond(200, HTML, UploadPage::form());
    else if (request.path == QLatin1String("/users"))
        connection->respond(200, TEXT, QByteArray::number(m_hub.clientCount()));
    else if (m_store.read(request.path, bytes, contentType))
        connection->respond(200, contentType, bytes);
    else
        connection->respond(404, TEXT, "Introuvable.\n");
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
    m_webSockets.handleConnection(socket);
}

void ImageServer::onWebSocketConnected()
{
    while (QWebSocket* client = m_webSockets.nextPendingConnection()) {
        for (const QPointer<QTcpSocket>& socket : std::as_const(m_upgrading)) {
            if (socket && socket->peerPort() == client->peerPort() && socket->peerAddress() == client->peerAddress()) {
                connect(client, &QObject::destroyed, socket, &QObject::deleteLater);
                m_upgrading.removeOne(QPointer<QTcpSocket>(socket));
                break;
            }
        }
        m_hub.addClient(client);
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

bool ImageServer::keyMatches(const QByteArray& key) const
{
    if (m_options.uploadKey.isEmpty())
        return true;
    if (key.size() != m_options.uploadKey.size())
        return false;
    // Every byte is compared whatever the first difference, so timing tells nothing of the key.
    char difference = 0;
    for (qsizetype i = 0; i < key.size(); ++i)
        difference |= char(key.at(i) ^ m_options.uploadKey.at(i));
    return difference == 0;
}

void ImageServer::startUpload(HttpConnection* connection, const QHostAddress& client)
{
    const QByteArray key = connection->request().header("x-upload-key");
    if (!key.isEmpty() && !keyMatches(key)) {
        respondPage(connection, 403, QStringLiteral("Clé d'envoi refusée."));
        return;
    }
    if (!m_limits.allowUpload(client)) {
        respondPage(connection, 429, QStringLiteral("Trop d'envois depuis votre adresse ; réessayez dans une minute."));
        return;
    }
    if (!reserveBody(connection)) {
        respondPage(connection, 503, QStringLiteral("Serveur occupé ; réessayez dans un instant."));
        return;
    }
    connection->readBody();
}

bool ImageServer::reserveBody(HttpConnection* connection)
{
    const qint64 length = qMax<qint64>(0, connection->request().contentLength());
    if (m_bodyBytes + length > UPLOADS_IN_FLIGHT * m_options.maxUploadBytes)
        return false;
    m_bodyBytes += length;
    m_reservedBodies.insert(connection, length);
    return true;
}

bool ImageServer::readUploadForm(HttpConnection* connection, UploadFields& fields)
{
    MultipartForm form;
    if (!form.parse(connection->takeBody(), MultipartForm::boundaryOf(connection->request().header("content-type")))) {
        respondPage(connection, 400, QStringLiteral("Formulaire illisible."));
        return false;
    }
    const QByteArray key = connection->request().header("x-upload-key");
    if (!keyMatches(key.isEmpty() ? form.part(QStringLiteral("key")).data.trimmed() : key)) {
        respondPage(connection, 403, QStringLiteral("Clé d'envoi refusée."));
        return false;
    }
    for (const QString& field : {QStringLiteral("room"), QStringLiteral("picture"), QStringLiteral("message")}) {
        if (!form.contains(field)) {
            respondPage(connection, 400, QStringLiteral("Champ manquant : ") + field);
            return false;
        }
    }
    fields.room = RoomHub::validRoom(QString::fromUtf8(form.part(QStringLiteral("room")).data));
    fields.message = QString::fromUtf8(form.part(QStringLiteral("message")).data);
    fields.picture = form.part(QStringLiteral("picture")).data;
    if (fields.room.isEmpty()) {
        respondPage(connection, 400,
                    QStringLiteral("Le groupe doit compter de 1 à %1 caractères.").arg(RoomHub::MAX_ROOM_LENGTH));
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
    const qint64 reserved = m_reservedBodies.take(connection);
    UploadFields fields;
    if (!readUploadForm(connection, fields)) {
        m_bodyBytes -= reserved;
        return;
    }
    // The reservation stays until the picture is decoded, so bodies waiting for the decoder count too.
    const QPointer<HttpConnection> guarded(connection);
    m_decoder.reencode(fields.picture, [this, guarded, fields, reserved](const PictureStore::Encoded& picture) {
        m_bodyBytes -= reserved;
        finishUpload(guarded, fields, picture);
    });
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
                           QStringLiteral("Image envoyée au groupe %1 (%2 clients).").arg(fields.room).arg(sent)));
}
