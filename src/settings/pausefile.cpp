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
const QString MUTES = QStringLiteral("mutes");

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

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

// The whole file was already judged by read(): only a damaged list of mutes is reported here.
PauseFile::Mutes PauseFile::readMutes(const QString& path)
{
    const QJsonValue value = readObject(path).value(MUTES);
    Mutes mutes;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QDateTime until = QDateTime::fromString(it.value().toString(), Qt::ISODateWithMs);
        if (it.value().isNull() || until.isValid())
            mutes.insert(it.key(), until);
    }
    if (!value.isUndefined() && (!value.isObject() || mutes.size() != object.size()))
        qWarning() << "Groupes muets illisibles, en partie ignorés :" << path;
    return mutes;
}

bool PauseFile::write(const QString& path, const QDateTime& until)
{
    return writeField(path, UNTIL,
                      until.isValid() ? QJsonValue(until.toUTC().toString(Qt::ISODateWithMs))
                                      : QJsonValue(QJsonValue::Undefined));
}

bool PauseFile::writeMutes(const QString& path, const Mutes& mutes)
{
    QJsonObject object;
    for (auto it = mutes.begin(); it != mutes.end(); ++it)
        object.insert(it.key(), it.value().isValid() ? QJsonValue(it.value().toUTC().toString(Qt::ISODateWithMs))
                                                     : QJsonValue(QJsonValue::Null));
    return writeField(path, MUTES, object.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(object));
}

// An undefined value removes the field.
bool PauseFile::writeField(const QString& path, const QString& name, const QJsonValue& value)
{
    QJsonObject object = readObject(path);
    if (value.isUndefined())
        object.remove(name);
    else
        object.insert(name, value);
    const QByteArray content = QJsonDocument(object).toJson(QJsonDocument::Compact);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit())
        return true;
    qWarning() << "Pause non enregistrée :" << file.errorString() << path;
    return false;
}
