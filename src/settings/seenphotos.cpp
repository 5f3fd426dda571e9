// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/seenphotos.h"

#include "protocol/wiremessage.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

bool isId(const QJsonValue& value)
{
    return WireMessage::photoId(value) >= 0;
}

} // namespace

QString SeenPhotos::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/seen.json");
}

SeenPhotos::SeenPhotos(const QString& path)
    : m_path(path)
{
    QFile file(path);
    if (!file.exists())
        return;
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.read(MAX_FILE_BYTES + 1) : QByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(content);
    const QJsonObject known = document.object();
    const bool valid = document.isObject() && content.size() <= MAX_FILE_BYTES
                       && std::all_of(known.constBegin(), known.constEnd(), isId);
    if (!valid) {
        qWarning() << "Photos vues illisibles, ignorées :" << path;
        return;
    }
    m_known = known;
}

bool SeenPhotos::note(const QString& room, qint64 id)
{
    if (id < 0 || m_known.value(room).toDouble(-1) >= double(id))
        return false;
    m_known.insert(room, QJsonValue(id));
    write();
    return true;
}

void SeenPhotos::noteStart(const QSet<QString>& rooms, qint64 id)
{
    if (id < 0)
        return;
    const qsizetype before = m_known.size();
    for (const QString& room : rooms) {
        if (!m_known.contains(room))
            m_known.insert(room, QJsonValue(id));
    }
    if (m_known.size() != before)
        write();
}

void SeenPhotos::keepOnly(const QSet<QString>& rooms)
{
    const qsizetype before = m_known.size();
    for (const QString& room : m_known.keys()) {
        if (!rooms.contains(room))
            m_known.remove(room);
    }
    if (m_known.size() != before)
        write();
}

void SeenPhotos::write() const
{
    const QByteArray content = QJsonDocument(m_known).toJson(QJsonDocument::Compact);
    QDir().mkpath(QFileInfo(m_path).path());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        qWarning() << "Photos vues non enregistrées :" << file.errorString() << m_path;
}
