// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;

namespace TestSupport {

QByteArray png(const QSize& size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

bool setUpClient(TestHttpsServer& server, const QString& home)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home));
    return TestCertificates::trustInProcess() && server.listen();
}

bool showPhoto(QObject* glimDeck, const QUrl& url, const QString& message, const QString& room)
{
    return QMetaObject::invokeMethod(glimDeck, "handleGlimDeck", Q_ARG(QString, url.toString()),
                                     Q_ARG(QString, message), Q_ARG(QString, room));
}

QUrl refusedUrl(const QString& scheme, const QString& path)
{
    return QUrl(scheme + u"://127.0.0.1:1"_s + path);
}

QProcessEnvironment childEnvironment(const QString& home, const QString& platform)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, platform);
    environment.insert(u"XDG_DATA_HOME"_s, home + u"/data"_s);
    environment.insert(u"XDG_CONFIG_HOME"_s, home + u"/config"_s);
    environment.insert(u"XDG_RUNTIME_DIR"_s, home);
    environment.insert(u"QT_FORCE_STDERR_LOGGING"_s, u"1"_s);
    // None of the host's network or sleep reports reach the program.
    environment.insert(u"DBUS_SYSTEM_BUS_ADDRESS"_s, u"unix:path=/nonexistent"_s);
    return environment;
}

QStringList serverArguments(const QString& storage, const QString& certs)
{
    return {"--listen=127.0.0.1", u"--storage="_s + storage, u"--cert="_s + certs + u"/server.pem"_s,
            u"--key="_s + certs + u"/server.key"_s};
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 1;
}

void stopAll(const QList<QProcess*>& processes)
{
    for (QProcess* process : processes) {
        process->terminate();
        process->waitForFinished(5000);
    }
}

QStringList xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(u"xdotool"_s, arguments);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

bool runs(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

bool startNginx(QProcess& nginx, const QString& dir, const QString& site, const QString& certs, quint16 port,
                const Ports& upstreams)
{
    QString text = QString::fromUtf8(readFile(site));
    text.replace("listen [::]:443 ssl;", QString());
    text.replace("listen 443", u"listen 127.0.0.1:"_s + QString::number(port));
    text.replace("/etc/letsencrypt/live/photos.example.org/fullchain.pem", certs + "/server.pem");
    text.replace("/etc/letsencrypt/live/photos.example.org/privkey.pem", certs + "/server.key");
    text.replace("/var/lib/nginx/glimdeck-pictures", dir + "/pictures");
    for (const auto& [from, to] : upstreams)
        text.replace(from, u':' + QString::number(to));
    QByteArray frame = readFile(QFINDTESTDATA("../data/nginx-test.conf"));
    if (!writeFile(dir + "/nginx.conf", frame.replace("@SITE@", text.toUtf8())))
        return false;
    nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    nginx.start(QStandardPaths::findExecutable("nginx", {"/usr/sbin"}),
                {"-p", dir, "-c", "nginx.conf", "-e", "error.log"});
    return nginx.waitForStarted(10000);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size();
}

Reply finish(QNetworkReply* reply)
{
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
        reply->abort();
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()};
}

Reply post(QNetworkAccessManager& network, const QUrl& url, const Fields& fields, const Fields& headers)
{
    auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    for (const auto& [name, value] : fields) {
        QHttpPart part;
        const QByteArray file = name == "picture" ? "; filename=\"photo.png\"" : "";
        part.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"" + name + "\"" + file);
        part.setBody(value);
        form->append(part);
    }
    QNetworkRequest request(url);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply* reply = network.post(request, form);
    form->setParent(reply);
    return finish(reply);
}

QByteArray expectedAuthorization()
{
    const QString file = QStringLiteral(GLIMDECK_VIEW_KEY_FILE);
    return file.isEmpty() ? QByteArray() : "Bearer " + readFile(file).split('\n').first().trimmed();
}

} // namespace TestSupport
