// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The upload page's own files, embedded in the server, and the HTML of the upload answers.
class UploadPage
{
public:
    struct File
    {
        QByteArray bytes;
        QByteArray contentType;
        QByteArray etag; // quoted, as sent
    };

    // Each "@NAME@" in the text files becomes the value of NAME: the page takes the server's own
    // bounds and paths.
    explicit UploadPage(const QHash<QByteArray, QByteArray>& values);

    // The file served at path, null when the page has none there.
    const File* file(const QString& path) const;
    // An answer to the plain form; the script shows the text of its "answer" paragraph in place.
    static QByteArray result(const QString& title, const QString& text, bool failed);

private:
    QHash<QString, File> m_files;
};
