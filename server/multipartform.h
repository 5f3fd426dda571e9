// SPDX-License-Identifier: GPL-3.0-or-later
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
    // False when the body is not a whole form, or holds more than ServerLimits::MAX_FORM_PARTS parts.
    bool parse(const QByteArray& body, const QByteArray& boundary);
    // The name and value of the first field, from the start of a body; false when start does not
    // hold it whole.
    static bool firstField(const QByteArray& start, const QByteArray& boundary, QString& name, QByteArray& value);

    bool contains(const QString& name) const { return m_parts.contains(name); }
    Part part(const QString& name) const { return m_parts.value(name); }

private:
    // Reads the part after the delimiter at position; false when there is none whole. position
    // then points at the next delimiter, or is -1 after the closing one.
    static bool readPart(const QByteArray& body, const QByteArray& delimiter, qsizetype& position, QString& name,
                         Part& part);

    QHash<QString, Part> m_parts;
};
