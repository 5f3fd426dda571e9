// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/roomlistfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
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

RoomListFile::Load RoomListFile::load(QFile& file)
{
    const QDir dir(QFileInfo(file.fileName()).path());
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));

    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    file.close();
    const std::optional<QJsonArray> rooms = parse(content);
    if (!rooms)
        return {Outcome::Damaged, {}};
    return {Outcome::Loaded, *rooms};
}

std::optional<QJsonArray> RoomListFile::read()
{
    QFile file(path());
    const Load loaded = load(file);
    if (loaded.outcome != Outcome::Loaded)
        return std::nullopt;
    return loaded.rooms;
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

bool RoomListFile::save(const QFile& file, const QJsonArray& rooms)
{
    QSaveFile saveFile(file.fileName());
    const QByteArray content = QJsonDocument(rooms).toJson(QJsonDocument::Compact);
    if (saveFile.open(QIODevice::WriteOnly) && saveFile.write(content) == content.size() && saveFile.commit())
        return true;
    qDebug() << "Erreur d'ouverture :" << saveFile.errorString();
    qDebug() << "Chemin tenté :" << file.fileName();
    return false;
}

void RoomListFile::keepBackup(const QFile& file)
{
    const QString backup = file.fileName() + QStringLiteral(".bak");
    QFile::remove(backup);
    if (QFile::copy(file.fileName(), backup))
        qWarning() << "Liste des groupes illisible, conservée dans" << backup;
    else
        qWarning() << "Liste des groupes illisible, copie impossible vers" << backup;
}
