#include "multipartform.h"

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

bool MultipartForm::parse(const QByteArray& body, const QByteArray& boundary)
{
    if (boundary.isEmpty())
        return false;
    const QByteArray delimiter = "--" + boundary;
    qsizetype position = body.indexOf(delimiter);
    if (position < 0)
        return false;
    while (true) {
        position += delimiter.size();
        if (body.mid(position, 2) == "--")
            return true;
        if (body.mid(position, 2) != "\r\n")
            return false;
        position += 2;
        const qsizetype headEnd = body.indexOf("\r\n\r\n", position);
        const qsizetype next = body.indexOf("\r\n" + delimiter, position);
        if (headEnd < 0 || next < 0 || headEnd > next)
            return false;
        QByteArray disposition;
        QByteArray contentType;
        for (const QByteArray& line : body.mid(position, headEnd - position).split('\n')) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (name == "content-disposition")
                disposition = value;
            else if (name == "content-type")
                contentType = value;
        }
        const QString fieldName = QString::fromUtf8(parameter(disposition, "name"));
        if (fieldName.isEmpty())
            return false;
        m_parts.insert(fieldName, Part{QString::fromUtf8(parameter(disposition, "filename")), contentType,
                                       body.mid(headEnd + 4, next - headEnd - 4)});
        position = next + 2;
    }
}
