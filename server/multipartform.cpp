// SPDX-License-Identifier: GPL-3.0-or-later
#include "multipartform.h"

#include "serverlimits.h"

#include <QList>

namespace {

QByteArray parameter(const QByteArray& headerValue, const QByteArray& name)
{
    for (QByteArray item : headerValue.split(';')) {
        item = item.trimmed();
        if (item.toLower().startsWith(name + '=')) {
            QByteArray value = item.mid(name.size() + 1).trimmed();
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return QByteArray();
}

} // namespace

QByteArray MultipartForm::boundaryOf(const QByteArray& contentType)
{
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return QByteArray();
    return parameter(contentType, "boundary");
}

bool MultipartForm::readPart(const QByteArray& body, const QByteArray& delimiter, qsizetype& position, QString& name,
                             Part& part)
{
    position += delimiter.size();
    if (body.mid(position, 2) == "--") {
        position = -1;
        return false;
    }
    if (body.mid(position, 2) != "\r\n")
        return false;
    position += 2;
    const qsizetype headEnd = body.indexOf("\r\n\r\n", position);
    const qsizetype next = body.indexOf("\r\n" + delimiter, position);
    if (headEnd < 0 || next < 0 || headEnd > next)
        return false;
    QByteArray disposition;
    for (const QByteArray& line : body.mid(position, headEnd - position).split('\n')) {
        const QByteArray header = line.left(line.indexOf(':')).trimmed().toLower();
        const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
        if (header == "content-disposition")
            disposition = value;
        else if (header == "content-type")
            part.contentType = value;
    }
    name = QString::fromUtf8(parameter(disposition, "name"));
    part.fileName = QString::fromUtf8(parameter(disposition, "filename"));
    part.data = body.mid(headEnd + 4, next - headEnd - 4);
    position = next + 2;
    return !name.isEmpty();
}

bool MultipartForm::firstField(const QByteArray& start, const QByteArray& boundary, QString& name, QByteArray& value)
{
    const QByteArray delimiter = "--" + boundary;
    qsizetype position = 0;
    Part part;
    if (boundary.isEmpty() || !start.startsWith(delimiter) || !readPart(start, delimiter, position, name, part))
        return false;
    value = part.data;
    return true;
}

bool MultipartForm::parse(const QByteArray& body, const QByteArray& boundary)
{
    if (boundary.isEmpty())
        return false;
    const QByteArray delimiter = "--" + boundary;
    qsizetype position = body.indexOf(delimiter);
    while (position >= 0) {
        QString name;
        Part part;
        if (!readPart(body, delimiter, position, name, part))
            return position < 0;
        if (m_parts.size() >= ServerLimits::MAX_FORM_PARTS)
            return false;
        m_parts.insert(name, part);
    }
    return false;
}
