// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connectiongate.h"
#include "instancegroup.h"
#include "peerlimits.h"
#include "picturecache.h"
#include "picturestore.h"
#include "roomhub.h"
#include "secretkey.h"
#include "serverlimits.h"
#include "serveroptions.h"
#include "uploadpage.h"
#include "uploadpipeline.h"

#include <QList>
#include <QObject>
#include <QPointer>
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
    // Where the installed page's share target posts a picture shared from the phone's gallery.
    static constexpr char SHARE_PATH[] = "/share";

    explicit ImageServer(const ServerOptions& options, QObject* parent = nullptr);
    ~ImageServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_gate.port(); }
    RoomHub& hub() { return m_hub; }

private:
    void onConnectionOpened(HttpConnection* connection);
    void onHeadReceived(HttpConnection* connection);
    void onBodyStartReceived(HttpConnection* connection, const QByteArray& start);
    void onWebSocketConnected();
    void routeRequest(HttpConnection* connection);
    void routeUpload(HttpConnection* connection, const QHostAddress& client);
    void respondPicture(HttpConnection* connection);
    void respondCount(HttpConnection* connection);
    void upgrade(HttpConnection* connection);
    QHostAddress clientAddress(const HttpConnection* connection) const;
    // False, and answered 401, when the request must show the view key and does not.
    bool mayView(HttpConnection* connection, const QHostAddress& client);

    ServerOptions m_options;
    QWebSocketServer m_webSockets;
    RoomHub m_hub;
    PictureStore m_store;
    PeerLimits m_limits;
    UploadPage m_page;
    SecretKey m_viewKey;
    UploadPipeline m_uploads;
    QList<QPointer<QTcpSocket>> m_upgrading;
    PictureCache m_pictures;
    // Holds the connections: it goes before what they answer with.
    ConnectionGate m_gate;
    // Only when the server is one instance of a group; last, so it goes first.
    std::unique_ptr<InstanceGroup> m_group;
};
