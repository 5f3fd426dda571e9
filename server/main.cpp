#include "imageserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop, so the server closes its sockets and exits cleanly.
void quitOnTerminationSignals(QCoreApplication& application)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        qInfo() << "Arrêt demandé.";
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#endif

bool loadTls(const QString& certPath, const QString& keyPath, QSslConfiguration& tls)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    QFile keyFile(keyPath);
    if (chain.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Certificat ou clé illisible :" << certPath << keyPath;
        return false;
    }
    QSslKey key(&keyFile, QSsl::Rsa);
    if (key.isNull()) {
        keyFile.seek(0);
        key = QSslKey(&keyFile, QSsl::Ec);
    }
    if (key.isNull()) {
        qWarning().noquote() << "Clé privée illisible :" << keyPath;
        return false;
    }
    tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificates
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimdeck-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Image-sharing server for Glim-deck: secure WebSocket on /, upload page, pictures and /users over "
        "HTTPS, all on one TLS port.\nscripts/make-certs.sh DIR makes a local authority and a localhost "
        "certificate (DIR/server.pem, DIR/server.key) for trying it out."));
    parser.addHelpOption();
    const QCommandLineOption certOption(QStringLiteral("cert"), QStringLiteral("PEM certificate chain."),
                                        QStringLiteral("file"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("PEM private key."),
                                       QStringLiteral("file"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TLS port (default 8443)."),
                                        QStringLiteral("port"), QStringLiteral("8443"));
    const QCommandLineOption listenOption(QStringLiteral("listen"), QStringLiteral("Address (default 127.0.0.1)."),
                                          QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption storageOption(
        QStringLiteral("storage"), QStringLiteral("Folder for the pictures."), QStringLiteral("dir"),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/images"));
    const QCommandLineOption maxUploadOption(
        QStringLiteral("max-upload-bytes"), QStringLiteral("Largest upload accepted (default 32 MiB)."),
        QStringLiteral("bytes"), QString::number(ImageServer::DEFAULT_MAX_UPLOAD_BYTES));
    parser.addOptions({certOption, keyOption, portOption, listenOption, storageOption, maxUploadOption});
    parser.process(application);

    if (!parser.isSet(certOption) || !parser.isSet(keyOption)) {
        qWarning() << "--cert et --key sont nécessaires (voir --help).";
        return 2;
    }
    QSslConfiguration tls;
    if (!loadTls(parser.value(certOption), parser.value(keyOption), tls))
        return 2;
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    const QHostAddress address(parser.value(listenOption));
    if (!portOk || port > 65535 || address.isNull()) {
        qWarning() << "Port ou adresse invalide.";
        return 2;
    }

    ImageServer server(tls, parser.value(storageOption), parser.value(maxUploadOption).toLongLong());
    if (!server.listen(address, quint16(port)))
        return 1;
#ifdef Q_OS_UNIX
    quitOnTerminationSignals(application);
#endif
    return QCoreApplication::exec();
}
