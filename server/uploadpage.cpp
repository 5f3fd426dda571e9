#include "uploadpage.h"

#include <QString>

QByteArray UploadPage::form()
{
    return QByteArrayLiteral(R"(<!DOCTYPE html>
<html lang="fr">
<head><meta charset="utf-8"><title>Glim-deck : envoyer une image</title>
<style>body{font-family:sans-serif;max-width:32em;margin:3em auto}label{display:block;margin:1em 0}</style>
</head>
<body>
<h1>Envoyer une image</h1>
<form method="post" action="/upload" enctype="multipart/form-data">
<label>Groupe <input name="room" maxlength="10" required></label>
<label>Image <input name="picture" type="file" accept="image/*" required></label>
<label>Message <input name="message" size="40" maxlength="500"></label>
<label>Clé d'envoi (si le serveur en demande une) <input name="key" type="password" autocomplete="off"></label>
<button type="submit">Envoyer</button>
</form>
</body>
</html>
)");
}

QByteArray UploadPage::result(const QString& title, const QString& text)
{
    return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\"><title>%1</title></head>"
                           "<body><h1>%1</h1><p>%2</p><p><a href=\"/\">Envoyer une autre image</a></p></body></html>\n")
                .arg(title.toHtmlEscaped(), text.toHtmlEscaped()))
        .toUtf8();
}
