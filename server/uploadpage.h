#pragma once

#include <QByteArray>

// The HTML of the upload form and of its answers.
class UploadPage
{
public:
    static QByteArray form();
    static QByteArray result(const QString& title, const QString& text);
};
