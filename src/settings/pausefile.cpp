// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/pausefile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QString UNTIL = QStringLiteral("until");

} // namespace

QString PauseFile::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/pause.json");
}

QDateTime PauseFile::read(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(content);
    const QJsonValue until = document.object().value(UNTIL);
    const QDateTime time = QDateTime::fromString(until.toString(), Qt::ISODateWithMs);
    if (document.isObject() && (until.isUndefined() || time.isValid()))
        return time;
    qWarning() << "Pause illisible, ignorée :" << path;
    return {};
}

bool PauseFile::write(const QString& path, const QDateTime& until)
{
    QJsonObject object;
    if (until.isValid())
        object.insert(UNTIL, until.toUTC().toString(Qt::ISODateWithMs));
    const QByteArray content = QJsonDocument(object).toJson(QJsonDocument::Compact);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    qWarning() << "Pause non enregistrée :" << file.errorString() << path;
    return false;
}
