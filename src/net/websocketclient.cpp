// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/websocketclient.h"

#include "net/endpoints.h"
#include "net/viewkey.h"
#include "protocol/clientmessages.h"
#include "protocol/servermessages.h"
#include "settings/roomlistfile.h"

#include <QDebug>
#include <QJsonArray>
#include <QTimer>
#include <QWebSocketProtocol>

#include <algorithm>
#include <optional>

namespace {

// The "image" text of a broadcast is appended to the server's address unchecked, so a crafted
// path such as "@other.example/x.png" would otherwise move the download to another host.
bool isOnServerHost(const QUrl& imageUrl)
{
    static const QUrl server(HTTPS_BASE_URL);
    return imageUrl.isValid() && imageUrl.userInfo().isEmpty() && imageUrl.scheme() == server.scheme()
           && imageUrl.host() == server.host() && imageUrl.port(443) == server.port(443);
}

} // namespace

WebSocketClient::WebSocketClient(const QUrl& url, QObject* parent)
    : WebSocketClient(url, 1, parent)
{
}

WebSocketClient::WebSocketClient(const QUrl& url, int timeDivisor, QObject* parent)
    : QObject(parent)
    , m_webSocket(QString(), QWebSocketProtocol::Version13)
    , m_url(url)
    , m_reconnectAttempts(0)
    , m_maxReconnectAttempts(60)
    , m_timeDivisor(std::max(1, timeDivisor))
    , m_seen(SeenPhotos::path())
{
    qRegisterMetaType<QAbstractSocket::SocketError>();
    m_webSocket.setMaxAllowedIncomingFrameSize(MAX_INCOMING_MESSAGE_BYTES);
    m_webSocket.setMaxAllowedIncomingMessageSize(MAX_INCOMING_MESSAGE_BYTES);
    connectSocket();

    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &WebSocketClient::attemptReconnect);

    m_pingTimer.setInterval(scaled(PING_INTERVAL_MS));
    connect(&m_pingTimer, &QTimer::timeout, this, &WebSocketClient::sendPing);

    m_pongTimer.setSingleShot(true);
    m_pongTimer.setInterval(scaled(PONG_TIMEOUT_MS));
    connect(&m_pongTimer, &QTimer::timeout, this, &WebSocketClient::onPongTimeout);

    qDebug() << "Connecting to" << m_url.toString() << "...";
    m_webSocket.open(ViewKey::request(m_url));
}

WebSocketClient::~WebSocketClient()
{
    // The socket reports its own teardown (disconnected, errors) while it is destroyed after
    // this body; none of that may reach a half-destroyed client.
    m_webSocket.disconnect(this);
}

void WebSocketClient::connectSocket()
{
    connect(&m_webSocket, &QWebSocket::connected, this, &WebSocketClient::onConnected);
    connect(&m_webSocket, &QWebSocket::disconnected, this, &WebSocketClient::onDisconnected);
    connect(&m_webSocket, &QWebSocket::textMessageReceived, this, &WebSocketClient::onTextMessageReceived);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(&m_webSocket, &QWebSocket::errorOccurred, this, &WebSocketClient::onError);
#else
    connect(&m_webSocket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &WebSocketClient::onError);
#endif
    connect(&m_webSocket, &QWebSocket::pong, this, &WebSocketClient::onPong);
    connect(&m_webSocket, &QWebSocket::aboutToClose, this, &WebSocketClient::onAboutToClose);
}

int WebSocketClient::scaled(int intervalMs) const
{
    return std::max(1, intervalMs / m_timeDivisor);
}

void WebSocketClient::onConnected()
{
    qDebug() << "Connected to" << m_url.toString();
    m_reconnectAttempts = 0;
    m_pingTimer.start();
    emit connected();
    sendSavedRooms();
}

void WebSocketClient::onDisconnected()
{
    qWarning() << "Déconnecté du serveur WebSocket. Raison:" << m_webSocket.closeReason();
    handOverMissed(); // what came of a catch-up cut short
    emit disconnected();
    m_pingTimer.stop();
    m_pongTimer.stop();

    if (m_reconnectAttempts >= m_maxReconnectAttempts) {
        qWarning() << "Nombre maximum de tentatives de reconnexion atteint.";
        return;
    }
    const int exponent = std::min(m_reconnectAttempts, 5);
    const int delayMs = std::min(RECONNECT_BASE_DELAY_MS << exponent, RECONNECT_MAX_DELAY_MS);
    ++m_reconnectAttempts;
    qDebug() << "Tentative de reconnexion dans" << delayMs << "ms (tentative" << m_reconnectAttempts << ")";
    m_reconnectTimer.start(scaled(delayMs));
}

// The socket keeps the last close code through later connections and failed attempts, and
// reports the end of its transport too; the code is fresh only while a connection is closing.
void WebSocketClient::onAboutToClose()
{
    if (m_webSocket.state() == QAbstractSocket::ConnectedState
        && m_webSocket.closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        qWarning() << "Message du serveur refusé : plus de 1 Mio.";
}

void WebSocketClient::attemptReconnect()
{
    qDebug() << "Tentative de reconnexion...";
    m_webSocket.open(ViewKey::request(m_url));
}

void WebSocketClient::onNetworkBack()
{
    recheck("Réseau rétabli :");
}

void WebSocketClient::onResumed()
{
    recheck("Sortie de veille :");
}

void WebSocketClient::recheck(const char* event)
{
    if (m_webSocket.state() == QAbstractSocket::ConnectedState) {
        qDebug() << event << "vérification de la connexion.";
        sendPing();
        return;
    }
    // Opening again replaces an attempt still under way, which may hang on a route now gone.
    qDebug() << event << "reconnexion immédiate.";
    m_reconnectTimer.stop();
    m_reconnectAttempts = 0;
    attemptReconnect();
}

void WebSocketClient::sendPing()
{
    m_webSocket.ping();
    m_pongTimer.start();
}

void WebSocketClient::onPong(quint64 elapsedTime, const QByteArray& payload)
{
    Q_UNUSED(elapsedTime);
    Q_UNUSED(payload);
    m_pongTimer.stop();
}

void WebSocketClient::onPongTimeout()
{
    qWarning() << "Timeout Ping/Pong : Le serveur ne répond plus.";
    m_webSocket.close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void WebSocketClient::onError(QAbstractSocket::SocketError error)
{
    qWarning() << "Erreur WebSocket:" << error << m_webSocket.errorString();
#if QT_VERSION < QT_VERSION_CHECK(6, 4, 3)
    // WORKAROUND: before Qt 6.4.3 an HTTP error answer to the upgrade leaves the socket
    // connecting for about ten seconds before it reports the loss; end the attempt now so the
    // reconnection chain goes on at its own pace.
    if (m_webSocket.state() != QAbstractSocket::UnconnectedState)
        m_webSocket.abort();
#endif
}

void WebSocketClient::sendRooms(const QJsonArray& rooms)
{
    m_followed.clear();
    for (const QJsonValue& room : rooms) {
        if (room.isString())
            m_followed.insert(room.toString());
    }
    m_seen.keepOnly(m_followed);
    sendText(ClientMessages::roomsText(rooms));
    sendMissedRequest();
}

void WebSocketClient::sendSavedRooms()
{
    const std::optional<QJsonArray> rooms = RoomListFile::read();
    if (rooms)
        sendRooms(*rooms);
}

// After every room list: a server that does not know the request ignores it; one that does
// answers with the photos missed since the ids named, then "photos:missed-done", whose newest id
// is where a room just followed starts from.
void WebSocketClient::sendMissedRequest()
{
    sendText(ClientMessages::missedRequestText(m_seen.known()));
}

void WebSocketClient::sendText(const QString& text)
{
    if (m_webSocket.isValid())
        m_webSocket.sendTextMessage(text);
}

void WebSocketClient::handOverMissed()
{
    if (m_missed.isEmpty())
        return;
    const QList<Photo> photos = m_missed;
    m_missed.clear();
    emit missedImagesReceived(photos);
}

void WebSocketClient::onTextMessageReceived(const QString& message)
{
    const std::optional<WireMessage::Parsed> parsed = WireMessage::parse(message);
    if (!parsed) {
        qWarning() << "Message JSON invalide.";
        return;
    }
    if (const std::optional<qint64> latest = ServerMessages::latestOf(*parsed)) {
        m_seen.noteStart(m_followed, *latest);
        handOverMissed();
    }
    const std::optional<BroadcastPhoto> photo = ServerMessages::photoOf(*parsed);
    if (!photo)
        return;
    const QString imageUrl = HTTPS_BASE_URL + photo->image;
    if (!isOnServerHost(QUrl(imageUrl))) {
        qWarning() << "Image refusée, adresse hors du serveur :" << imageUrl;
        return;
    }
    qDebug() << "Image reçue:" << imageUrl;
    qDebug() << "Message: " << photo->message;
    const bool newer = m_followed.contains(photo->room) && m_seen.note(photo->room, photo->id);
    if (!photo->missed) {
        emit imageReceived(imageUrl, photo->message, photo->room);
        return;
    }
    if (!newer) // already come live, while the request was on its way
        return;
    m_missed.append({QUrl(imageUrl, QUrl::TolerantMode), photo->message, photo->room, photo->time, 0});
    if (m_missed.size() > MAX_MISSED_PHOTOS)
        m_missed.removeFirst();
}
