#include "settings/roomlistfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString directory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

} // namespace

QString RoomListFile::path()
{
    return directory() + QStringLiteral("/rooms.json");
}

std::optional<QJsonArray> RoomListFile::read()
{
    const QDir dir(directory());
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.readAll();
    file.close();
    return parse(content);
}

std::optional<QJsonArray> RoomListFile::parse(const QByteArray& content)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int offset = parseError.offset;
        qDebug() << "Erreur de parsing JSON :" << parseError.errorString();
        qDebug() << "Erreur à l'offset (position) :" << offset;
        qDebug() << "Extrait proche de l'erreur :" << content.mid(std::max(0, offset - 10), 20);
        return std::nullopt;
    }
    if (!document.isArray())
        return std::nullopt;
    return document.array();
}
