#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The fields of a multipart/form-data body.
class MultipartForm
{
public:
    struct Part
    {
        QString fileName;
        QByteArray contentType;
        QByteArray data;
    };

    // The boundary from a Content-Type header value; empty when it names none.
    static QByteArray boundaryOf(const QByteArray& contentType);
    bool parse(const QByteArray& body, const QByteArray& boundary);

    bool contains(const QString& name) const { return m_parts.contains(name); }
    Part part(const QString& name) const { return m_parts.value(name); }

private:
    QHash<QString, Part> m_parts;
};
