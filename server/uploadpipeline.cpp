// SPDX-License-Identifier: GPL-3.0-or-later
#include "uploadpipeline.h"

#include "httpconnection.h"
#include "logtext.h"
#include "multipartform.h"
#include "peerlimits.h"
#include "protocol/roomname.h"
#include "roomhub.h"
#include "serverlimits.h"
#include "uploadpage.h"

#include <QDebug>

namespace {

void respondPage(HttpConnection* connection, int status, const QString& text)
{
    connection->respond(status, HttpConnection::HTML, UploadPage::result(QStringLiteral("Erreur"), text, true));
}

// An upload refused before its body is taken: a browser still sending would lose the answer to
// the reset a close on unread data causes, so the body is read past, never held.
void refuseUnread(HttpConnection* connection, int status, const QString& text)
{
    connection->discardBody();
    respondPage(connection, status, text);
}

} // namespace

UploadPipeline::UploadPipeline(const ServerOptions& options, PeerLimits& limits, PictureStore& store, RoomHub& hub)
    : m_limits(limits)
    , m_store(store)
    , m_hub(hub)
    , m_uploadKey(options.uploadKey)
    , m_decoder(options.decoderProgram)
    , m_bodies(ServerLimits::UPLOADS_IN_FLIGHT * options.maxUploadBytes, options.maxUploadBytes)
{
}

void UploadPipeline::watch(HttpConnection* connection)
{
    connect(connection, &HttpConnection::bodyReceived, this, &UploadPipeline::onBodyReceived);
    connect(connection, &QObject::destroyed, this, [this, connection] { m_bodies.release(m_bodies.take(connection)); });
}

// Every try is charged, a wrong key as a right one, so keys cannot be guessed at speed.
bool UploadPipeline::chargeUpload(HttpConnection* connection, const QHostAddress& client)
{
    if (m_limits.allowUpload(client))
        return true;
    refuseUnread(connection, 429, QStringLiteral("Trop d'envois depuis votre adresse ; réessayez dans une minute."));
    return false;
}

void UploadPipeline::startUpload(HttpConnection* connection, const QHostAddress& client)
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

void UploadPipeline::onBodyStartReceived(HttpConnection* connection, const QByteArray& start,
                                         const QHostAddress& client)
{
    QString name;
    QByteArray key;
    const QByteArray boundary = MultipartForm::boundaryOf(connection->request().header("content-type"));
    if (!MultipartForm::firstField(start, boundary, name, key) || name != QLatin1String("key")
        || !m_uploadKey.matches(key.trimmed())) {
        refuseKey(connection, client);
        return;
    }
    readUploadBody(connection, client);
}

void UploadPipeline::refuseKey(HttpConnection* connection, const QHostAddress& client)
{
    m_limits.logOffence(client, QStringLiteral("clé d'envoi refusée"));
    refuseUnread(connection, 403, QStringLiteral("Clé d'envoi refusée."));
}

void UploadPipeline::readUploadBody(HttpConnection* connection, const QHostAddress& client)
{
    const qint64 length = qMax<qint64>(0, connection->request().contentLength());
    if (!m_bodies.reserve(connection, client, length)) {
        m_limits.logOffence(client, QStringLiteral("envois en cours trop volumineux"));
        refuseUnread(connection, 503, QStringLiteral("Serveur occupé ; réessayez dans un instant."));
        return;
    }
    connection->readBody();
}

bool UploadPipeline::readUploadForm(HttpConnection* connection, UploadFields& fields)
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
    if (fields.message.size() > ServerLimits::MAX_MESSAGE_LENGTH) {
        respondPage(
            connection, 400,
            QStringLiteral("Le message doit compter au plus %1 caractères.").arg(ServerLimits::MAX_MESSAGE_LENGTH));
        return false;
    }
    return true;
}

void UploadPipeline::onBodyReceived(HttpConnection* connection)
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
void UploadPipeline::answerShare(HttpConnection* connection, const QHostAddress& client)
{
    // It carries no key: it costs the sender an upload, and its body is read past, never held.
    if (!chargeUpload(connection, client))
        return;
    connection->discardBody();
    qInfo().noquote() << "Partage reçu sans le service de la page ; page d'envoi rouverte";
    connection->respond(303, HttpConnection::TEXT, "Choisissez l'image à nouveau.\n", "Location: /?partage\r\n");
}

void UploadPipeline::finishUpload(QPointer<HttpConnection> connection, const UploadFields& fields,
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
        200, HttpConnection::HTML,
        UploadPage::result(QStringLiteral("Image envoyée"),
                           QStringLiteral("Image envoyée au groupe %1 (%2 clients).").arg(fields.room).arg(sent),
                           false));
}
