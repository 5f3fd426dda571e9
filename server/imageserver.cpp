#include "imageserver.h"

#include "httpconnection.h"
#include "httprequest.h"
#include "multipartform.h"
#include "uploadpage.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSslSocket>
#include <QUuid>

namespace {

const QByteArray HTML = "text/html; charset=utf-8";
const QByteArray TEXT = "text/plain; charset=utf-8";

// What the server stores, by the image reader's format name: extension and content type.
const QHash<QByteArray, QPair<QString, QByteArray>>& storedFormats()
{
    static const QHash<QByteArray, QPair<QString, QByteArray>> formats{
        {"png", {QStringLiteral("png"), "image/png"}},
        {"jpeg", {QStringLiteral("jpg"), "image/jpeg"}},
        {"gif", {QStringLiteral("gif"), "image/gif"}},
        {"bmp", {QStringLiteral("bmp"), "image/bmp"}},
        {"webp", {QStringLiteral("webp"), "image/webp"}}};
    return formats;
}

// Stored names are made here and nothing else is served, so no path can leave the folder.
const QRegularExpression STORED_PATH(QStringLiteral("^/images/([0-9a-f]{32})\\.(png|jpg|gif|bmp|webp)$"));

} // namespace

ImageServer::ImageServer(const QSslConfiguration& tls, const QString& storage, qint64 maxUploadBytes, QObject* parent)
    : QObject(parent)
    , m_webSockets(QStringLiteral("glimdeck-server"), QWebSocketServer::NonSecureMode)
    , m_storage(storage)
    , m_maxUploadBytes(maxUploadBytes)
{
    m_storage.mkpath(QStringLiteral("."));
    m_server.setSslConfiguration(tls);
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, &ImageServer::onPendingConnection);
    connect(&m_server, &QSslServer::errorOccurred, this, [](QSslSocket* socket, QAbstractSocket::SocketError) {
        qWarning().noquote() << "Connexion TLS refusée :" << socket->errorString();
    });
    // The TLS connection is already open when it is handed over, so this side speaks plain WebSocket.
    connect(&m_webSockets, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* client = m_webSockets.nextPendingConnection())
            m_hub.addClient(client);
    });
}

bool ImageServer::listen(const QHostAddress& address, quint16 port)
{
    if (!m_server.listen(address, port)) {
        qWarning().noquote() << "Écoute impossible sur" << address.toString() << port << ":" << m_server.errorString();
        return false;
    }
    qInfo().noquote() << "glimdeck-server écoute sur https://" + address.toString() + ":"
                             + QString::number(this->port())
                      << "; images dans" << m_storage.absolutePath();
    return true;
}

void ImageServer::onPendingConnection()
{
    while (QTcpSocket* pending = m_server.nextPendingConnection()) {
        auto* connection = new HttpConnection(qobject_cast<QSslSocket*>(pending), m_maxUploadBytes, this);
        connect(connection, &HttpConnection::requestReceived, this, &ImageServer::onRequestReceived);
        connect(connection, &HttpConnection::upgradeRequested, this, &ImageServer::onUpgradeRequested);
    }
}

void ImageServer::onUpgradeRequested(QSslSocket* socket, const HttpRequest& request)
{
    if (request.path != QLatin1String("/")) {
        socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        return;
    }
    m_webSockets.handleConnection(socket);
}

void ImageServer::onRequestReceived(HttpConnection* connection, const HttpRequest& request)
{
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (request.path == QLatin1String("/upload")) {
        if (request.method == "POST")
            receiveUpload(connection, request);
        else
            connection->respond(405, TEXT, "Envoyez le formulaire avec POST.\n");
    } else if (!get) {
        connection->respond(405, TEXT, "Méthode non prise en charge.\n");
    } else if (request.path == QLatin1String("/")) {
        connection->respond(200, HTML, UploadPage::form());
    } else if (request.path == QLatin1String("/users")) {
        connection->respond(200, TEXT, QByteArray::number(m_hub.clientCount()));
    } else {
        servePicture(connection, request.path);
    }
}

void ImageServer::servePicture(HttpConnection* connection, const QString& path)
{
    const QRegularExpressionMatch match = STORED_PATH.match(path);
    QFile file(m_storage.filePath(match.captured(1) + QLatin1Char('.') + match.captured(2)));
    if (!match.hasMatch() || !file.open(QIODevice::ReadOnly)) {
        connection->respond(404, TEXT, "Introuvable.\n");
        return;
    }
    QByteArray contentType;
    for (const auto& format : storedFormats()) {
        if (format.first == match.captured(2))
            contentType = format.second;
    }
    connection->respond(200, contentType, file.readAll());
}

void ImageServer::receiveUpload(HttpConnection* connection, const HttpRequest& request)
{
    MultipartForm form;
    if (!form.parse(request.body, MultipartForm::boundaryOf(request.header("content-type")))) {
        connection->respond(400, HTML,
                            UploadPage::result(QStringLiteral("Erreur"), QStringLiteral("Formulaire illisible.")));
        return;
    }
    for (const QString& field : {QStringLiteral("room"), QStringLiteral("picture"), QStringLiteral("message")}) {
        if (!form.contains(field)) {
            connection->respond(
                400, HTML, UploadPage::result(QStringLiteral("Erreur"), QStringLiteral("Champ manquant : ") + field));
            return;
        }
    }
    const QString room = QString::fromUtf8(form.part(QStringLiteral("room")).data).trimmed();
    if (room.isEmpty() || room.size() > RoomHub::MAX_ROOM_LENGTH) {
        connection->respond(
            400, HTML,
            UploadPage::result(
                QStringLiteral("Erreur"),
                QStringLiteral("Le groupe doit compter de 1 à %1 caractères.").arg(RoomHub::MAX_ROOM_LENGTH)));
        return;
    }
    QByteArray picture = form.part(QStringLiteral("picture")).data;
    QBuffer buffer(&picture);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (!storedFormats().contains(format) || reader.read().isNull()) {
        connection->respond(
            415, HTML,
            UploadPage::result(QStringLiteral("Erreur"), QStringLiteral("Ce fichier n'est pas une image lisible.")));
        return;
    }
    const QString name =
        QUuid::createUuid().toString(QUuid::Id128) + QLatin1Char('.') + storedFormats().value(format).first;
    QSaveFile file(m_storage.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(picture) != picture.size() || !file.commit()) {
        qWarning().noquote() << "Enregistrement impossible :" << file.fileName() << file.errorString();
        connection->respond(500, HTML,
                            UploadPage::result(QStringLiteral("Erreur"), QStringLiteral("Enregistrement impossible.")));
        return;
    }
    const QString path = QStringLiteral("/images/") + name;
    const QString message = QString::fromUtf8(form.part(QStringLiteral("message")).data);
    qInfo().noquote() << "Image reçue pour le groupe" << room << ":" << path << picture.size() << "octets";
    const int sent = m_hub.broadcast(room, path, message);
    connection->respond(
        200, HTML,
        UploadPage::result(QStringLiteral("Image envoyée"),
                           QStringLiteral("Image envoyée au groupe %1 (%2 clients).").arg(room).arg(sent)));
}
