// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bodybudget.h"
#include "connectionlistener.h"
#include "decodeworker.h"
#include "instancegroup.h"
#include "peerlimits.h"
#include "picturecache.h"
#include "picturestore.h"
#include "roomhub.h"
#include "secretkey.h"
#include "serveroptions.h"
#include "uploadpage.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QWebSocketServer>

#include <memory>

class HttpConnection;
class QTcpSocket;

// One port: the WebSocket on "/", and over HTTP the upload page, the uploads, the stored
// pictures and the count of connected clients. TLS unless it runs behind a local reverse proxy.
class ImageServer : public QObject
{
    Q_OBJECT

public:
    // Connections still in their TLS handshake or request head, at most as many per address as
    // that address may hold: older ones make way for newcomers. A room's crowd fetching its new
    // photo at once fits whole, its handshakes run together, so a newcomer waits behind none.
    static constexpr int MAX_WAITING = 4096;
    // The oldest waiting connections looked at for one to make way, so that a newcomer costs
    // little even when all of them are busy.
    static constexpr int EVICTION_CANDIDATES = 32;
    // A waiting connection whose peer has spoken is in its handshake: it makes way only after
    // this many times the wait of a silent one, and only while it waits on its peer.
    static constexpr int SPOKEN_EVICTION_FACTOR = 5;
    // Upload bodies held at once, as a multiple of the largest upload.
    static constexpr int UPLOADS_IN_FLIGHT = 3;
    static constexpr int MAX_MESSAGE_LENGTH = 500;
    // Where the installed page's share target posts a picture shared from the phone's gallery.
    static constexpr char SHARE_PATH[] = "/share";

    explicit ImageServer(const ServerOptions& options, QObject* parent = nullptr);
    ~ImageServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_listener.serverPort(); }
    RoomHub& hub() { return m_hub; }

private:
    struct UploadFields
    {
        QString room;
        QString message;
        QByteArray picture;
    };
    void onNewConnection();
    void scheduleTake(int delayMs);
    void takeConnections();
    bool makeRoomToWait();
    void onConnectionAccepted(QTcpSocket* socket);
    void onHeadReceived(HttpConnection* connection);
    void onBodyStartReceived(HttpConnection* connection, const QByteArray& start);
    void onBodyReceived(HttpConnection* connection);
    void onWebSocketConnected();
    bool admitWaiting(HttpConnection* connection);
    bool evictOldest(const QList<QPointer<HttpConnection>>& waiting);
    void routeRequest(HttpConnection* connection);
    void respondPicture(HttpConnection* connection);
    void respondCount(HttpConnection* connection);
    void upgrade(HttpConnection* connection);
    void startUpload(HttpConnection* connection, const QHostAddress& client);
    void refuseKey(HttpConnection* connection, const QHostAddress& client);
    void readUploadBody(HttpConnection* connection, const QHostAddress& client);
    bool readUploadForm(HttpConnection* connection, UploadFields& fields);
    void answerShare(HttpConnection* connection, const QHostAddress& client);
    bool chargeUpload(HttpConnection* connection, const QHostAddress& client);
    void finishUpload(QPointer<HttpConnection> connection, const UploadFields& fields,
                      const PictureStore::Encoded& picture);
    QHostAddress clientAddress(const HttpConnection* connection) const;
    // False, and answered 401, when the request must show the view key and does not.
    bool mayView(HttpConnection* connection, const QHostAddress& client);

    ServerOptions m_options;
    ConnectionListener m_listener;
    bool m_takeScheduled = false;
    QWebSocketServer m_webSockets;
    RoomHub m_hub;
    PictureStore m_store;
    PeerLimits m_limits;
    UploadPage m_page;
    SecretKey m_uploadKey;
    SecretKey m_viewKey;
    DecodeWorker m_decoder;
    QList<QPointer<HttpConnection>> m_waiting;
    QList<QPointer<QTcpSocket>> m_upgrading;
    BodyBudget m_bodies;
    PictureCache m_pictures;
    int m_connections = 0;
    // Only when the server is one instance of a group; last, so it goes first.
    std::unique_ptr<InstanceGroup> m_group;
};
