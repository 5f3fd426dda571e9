// SPDX-License-Identifier: GPL-3.0-or-later
#include "uploadpage.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

namespace {

struct Source
{
    const char* path;
    const char* resource;
    const char* contentType;
};

const Source SOURCES[] = {
    {"/", ":/page/index.html", "text/html; charset=utf-8"},
    {"/upload.css", ":/page/upload.css", "text/css; charset=utf-8"},
    {"/upload.js", ":/page/upload.js", "text/javascript; charset=utf-8"},
    {"/sw.js", ":/page/sw.js", "text/javascript; charset=utf-8"},
    {"/manifest.webmanifest", ":/page/manifest.webmanifest", "application/manifest+json"},
    {"/icon-192.png", ":/page/icon-192.png", "image/png"},
    {"/icon-512.png", ":/page/icon-512.png", "image/png"},
};

} // namespace

UploadPage::UploadPage(const QHash<QByteArray, QByteArray>& values)
{
    for (const Source& source : SOURCES) {
        QFile resource(QString::fromLatin1(source.resource));
        if (!resource.open(QIODevice::ReadOnly)) {
            qWarning() << "Fichier de la page d'envoi absent :" << source.resource;
            continue;
        }
        QByteArray bytes = resource.readAll();
        const bool text = !QByteArrayView(source.contentType).startsWith("image/");
        for (auto value = values.constBegin(); text && value != values.constEnd(); ++value)
            bytes.replace('@' + value.key() + '@', value.value());
        const QByteArray etag =
            '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(20) + '"';
        m_files.insert(QString::fromLatin1(source.path), File{bytes, source.contentType, etag});
    }
}

const UploadPage::File* UploadPage::file(const QString& path) const
{
    const auto found = m_files.constFind(path);
    return found == m_files.constEnd() ? nullptr : &found.value();
}

QByteArray UploadPage::result(const QString& title, const QString& text, bool failed)
{
    return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                           "<title>%1</title><link rel=\"stylesheet\" href=\"/upload.css\"></head>"
                           "<body><main%3><h1>%1</h1><p class=\"answer\">%2</p>"
                           "<p><a class=\"button\" href=\"/\">Envoyer une autre image</a></p></main></body></html>\n")
                .arg(title.toHtmlEscaped(), text.toHtmlEscaped(),
                     failed ? QStringLiteral(" class=\"error\"") : QString()))
        .toUtf8();
}
