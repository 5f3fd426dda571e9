// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bodybudget.h"
#include "decodeworker.h"
#include "picturestore.h"
#include "secretkey.h"
#include "serveroptions.h"

#include <QObject>
#include <QPointer>

class HttpConnection;
class PeerLimits;
class RoomHub;

// An upload from its head to its answer: the sender's allowance, the key, the memory its body
// may take, the form, the decoding away from the event loop, then the picture stored and sent
// to its room.
class UploadPipeline : public QObject
{
    Q_OBJECT

public:
    UploadPipeline(const ServerOptions& options, PeerLimits& limits, PictureStore& store, RoomHub& hub);

    // Gives back the memory a connection's body holds when the connection goes.
    void watch(HttpConnection* connection);
    void startUpload(HttpConnection* connection, const QHostAddress& client);
    void onBodyStartReceived(HttpConnection* connection, const QByteArray& start, const QHostAddress& client);
    // A picture shared from the phone that the page's service worker did not take.
    void answerShare(HttpConnection* connection, const QHostAddress& client);

private:
    struct UploadFields
    {
        QString room;
        QString message;
        QByteArray picture;
    };
    void onBodyReceived(HttpConnection* connection);
    void refuseKey(HttpConnection* connection, const QHostAddress& client);
    void readUploadBody(HttpConnection* connection, const QHostAddress& client);
    bool readUploadForm(HttpConnection* connection, UploadFields& fields);
    bool chargeUpload(HttpConnection* connection, const QHostAddress& client);
    void finishUpload(QPointer<HttpConnection> connection, const UploadFields& fields,
                      const PictureStore::Encoded& picture);

    PeerLimits& m_limits;
    PictureStore& m_store;
    RoomHub& m_hub;
    SecretKey m_uploadKey;
    DecodeWorker m_decoder;
    BodyBudget m_bodies;
};
