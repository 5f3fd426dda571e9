// SPDX-License-Identifier: GPL-3.0-or-later
#include "serveroptions.h"
#include "serverlimits.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

QCommandLineOption option(const char* name, const char* description, const char* valueName = nullptr)
{
    return valueName ? QCommandLineOption(QLatin1String(name), QLatin1String(description), QLatin1String(valueName))
                     : QCommandLineOption(QLatin1String(name), QLatin1String(description));
}

// An option whose description names its default as %1.
QCommandLineOption optionWithDefault(const char* name, const char* description, qint64 value, const char* valueName)
{
    return QCommandLineOption(QLatin1String(name), QString::fromLatin1(description).arg(value),
                              QLatin1String(valueName));
}

// Reads a whole decimal number within [minimum, maximum] into value when the option is set.
bool readNumber(const QCommandLineParser& parser, const QString& name, qint64 minimum, qint64 maximum, qint64& value,
                QString* error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qint64 number = parser.value(name).toLongLong(&ok);
    if (!ok || number < minimum || number > maximum) {
        *error = QStringLiteral("--%1 attend un nombre entier de %2 à %3, pas « %4 ».")
                     .arg(name)
                     .arg(minimum)
                     .arg(maximum)
                     .arg(parser.value(name));
        return false;
    }
    value = number;
    return true;
}

bool readInt(const QCommandLineParser& parser, const QString& name, int minimum, int maximum, int& value,
             QString* error)
{
    qint64 number = value;
    const bool ok = readNumber(parser, name, minimum, maximum, number, error);
    value = int(number);
    return ok;
}

bool loadTls(const QString& certPath, const QString& keyPath, QSslConfiguration& tls, QString* error)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    QFile keyFile(keyPath);
    if (chain.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Certificat ou clé illisible : %1 %2").arg(certPath, keyPath);
        return false;
    }
    QSslKey key(&keyFile, QSsl::Rsa);
    if (key.isNull()) {
        keyFile.seek(0);
        key = QSslKey(&keyFile, QSsl::Ec);
    }
    if (key.isNull()) {
        *error = QStringLiteral("Clé privée illisible : ") + keyPath;
        return false;
    }
    tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificates
    return true;
}

// kind names the key in the messages: "d'envoi", "de lecture".
bool readKeyFile(const QString& path, const QString& kind, QByteArray& key, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Fichier de clé %1 illisible : %2").arg(kind, path);
        return false;
    }
    key = file.read(ServerLimits::MAX_KEY_FILE_BYTES).trimmed();
    if (key.isEmpty() || key.contains('\n')) {
        *error = QStringLiteral("Le fichier de clé %1 doit tenir une clé sur une ligne : %2").arg(kind, path);
        return false;
    }
    return true;
}

bool readKeys(const QCommandLineParser& parser, ServerOptions& options, QString* error)
{
    options.openUploads = parser.isSet(QStringLiteral("open-uploads"));
    if (parser.isSet(QStringLiteral("view-key-file"))
        && !readKeyFile(parser.value(QStringLiteral("view-key-file")), QStringLiteral("de lecture"), options.viewKey,
                        error))
        return false;
    if (parser.isSet(QStringLiteral("upload-key-file")))
        return readKeyFile(parser.value(QStringLiteral("upload-key-file")), QStringLiteral("d'envoi"),
                           options.uploadKey, error);
    if (!options.openUploads) {
        *error = QStringLiteral("Aucune clé d'envoi : donnez --upload-key-file FICHIER, ou --open-uploads pour que "
                                "tout le monde puisse envoyer des images.");
        return false;
    }
    return true;
}

bool readAddress(const QCommandLineParser& parser, ServerOptions& options, QString* error)
{
    qint64 port = options.port;
    if (!readNumber(parser, QStringLiteral("port"), 1, 65535, port, error))
        return false;
    options.port = quint16(port);
    if (parser.isSet(QStringLiteral("listen")))
        options.address = QHostAddress(parser.value(QStringLiteral("listen")));
    if (options.address.isNull()) {
        *error =
            QStringLiteral("--listen attend une adresse IP, pas « %1 ».").arg(parser.value(QStringLiteral("listen")));
        return false;
    }
    options.plain = parser.isSet(QStringLiteral("no-tls"));
    if (options.plain && !options.address.isLoopback()) {
        *error = QStringLiteral("--no-tls n'écoute que sur une adresse locale (127.0.0.1 ou ::1), derrière un "
                                "mandataire inverse.");
        return false;
    }
    if (parser.isSet(QStringLiteral("trusted-proxy")))
        options.trustedProxy = QHostAddress(parser.value(QStringLiteral("trusted-proxy")));
    if (options.trustedProxy.isNull()) {
        *error = QStringLiteral("--trusted-proxy attend une adresse IP, pas « %1 ».")
                     .arg(parser.value(QStringLiteral("trusted-proxy")));
        return false;
    }
    options.storage =
        parser.isSet(QStringLiteral("storage"))
            ? parser.value(QStringLiteral("storage"))
            : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/images");
    options.redis = parser.value(QStringLiteral("redis"));
    options.redisInstance = parser.value(QStringLiteral("redis-instance"));
    if (options.redisInstance.size() > ServerLimits::MAX_INSTANCE_LENGTH) {
        *error = QStringLiteral("--redis-instance : %1 caractères au plus.").arg(ServerLimits::MAX_INSTANCE_LENGTH);
        return false;
    }
    return true;
}

bool readTls(const QCommandLineParser& parser, ServerOptions& options, QString* error)
{
    if (options.plain)
        return true;
    if (!parser.isSet(QStringLiteral("cert")) || !parser.isSet(QStringLiteral("key"))) {
        *error = QStringLiteral("--cert et --key sont nécessaires, ou --no-tls (voir --help).");
        return false;
    }
    return loadTls(parser.value(QStringLiteral("cert")), parser.value(QStringLiteral("key")), options.tls, error);
}

bool readLimits(const QCommandLineParser& parser, ServerOptions& options, QString* error)
{
    qint64 quotaMib = options.quotaBytes / ServerLimits::MIB;
    const bool ok =
        readNumber(parser, QStringLiteral("max-upload-bytes"), ServerLimits::MIN_UPLOAD_BYTES,
                   ServerLimits::MAX_UPLOAD_BYTES, options.maxUploadBytes, error)
        && readInt(parser, QStringLiteral("max-age-hours"), 1, ServerLimits::MAX_AGE_HOURS, options.maxAgeHours, error)
        && readNumber(parser, QStringLiteral("quota-mib"), 1, ServerLimits::MAX_QUOTA_MIB, quotaMib, error)
        && readInt(parser, QStringLiteral("max-connections"), 1, ServerLimits::MAX_COUNT_OPTION, options.maxConnections,
                   error)
        && readInt(parser, QStringLiteral("max-connections-per-address"), 1, ServerLimits::MAX_COUNT_OPTION,
                   options.maxConnectionsPerAddress, error)
        && readInt(parser, QStringLiteral("uploads-per-minute"), 1, ServerLimits::MAX_COUNT_OPTION,
                   options.uploadsPerMinute, error);
    options.quotaBytes = quotaMib * ServerLimits::MIB;
    return ok;
}

} // namespace

bool ServerOptions::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Image-sharing server for Glim-deck: secure WebSocket on /, upload page, pictures and /users over "
        "HTTPS, all on one TLS port.\nscripts/make-certs.sh DIR makes a local authority and a localhost "
        "certificate (DIR/server.pem, DIR/server.key) for trying it out."));
    parser.addHelpOption();
    parser.addOptions({
        option("cert", "PEM certificate chain.", "file"),
        option("key", "PEM private key.", "file"),
        option("no-tls", "Plain HTTP and WebSocket, for a reverse proxy on this machine; --listen must be a "
                         "loopback address."),
        option("port", "Port (default 8443).", "port"),
        option("listen", "Address (default 127.0.0.1).", "address"),
        option("storage", "Folder for the pictures.", "dir"),
        optionWithDefault("max-upload-bytes", "Largest upload accepted (default %1 MiB).",
                          ServerLimits::DEFAULT_MAX_UPLOAD_BYTES / ServerLimits::MIB, "bytes"),
        option("upload-key-file",
               "File holding the key that every upload must carry (form field \"key\" or "
               "header X-Upload-Key).",
               "file"),
        option("open-uploads", "Lets anyone upload when no --upload-key-file is given."),
        option("view-key-file",
               "File holding the key that the WebSocket and /users need (header \"Authorization: Bearer KEY\"); "
               "without it anyone may follow any room.",
               "file"),
        optionWithDefault("max-age-hours", "Pictures are deleted after this many hours (default %1).",
                          ServerLimits::DEFAULT_MAX_AGE_HOURS, "hours"),
        optionWithDefault("quota-mib", "Pictures take at most this much disk; the oldest go first (default %1).",
                          ServerLimits::DEFAULT_QUOTA_MIB, "MiB"),
        optionWithDefault("max-connections", "Connections open at once (default %1, and below the open-file limit).",
                          ServerLimits::DEFAULT_MAX_CONNECTIONS, "count"),
        optionWithDefault("max-connections-per-address", "Connections open at once from one address (default %1).",
                          ServerLimits::DEFAULT_MAX_CONNECTIONS_PER_ADDRESS, "count"),
        optionWithDefault("uploads-per-minute", "Uploads accepted from one address per minute (default %1).",
                          ServerLimits::DEFAULT_UPLOADS_PER_MINUTE, "count"),
        option("redis",
               "Joins the instances that name the same Redis (a unix socket path or host:port): they share "
               "rooms, counts and catch-up; give them the same --storage folder.",
               "address"),
        option("redis-instance", "This instance's name among them (default: host name and a random suffix).", "name"),
        option("trusted-proxy",
               "With --no-tls, the address of the reverse proxy: only its X-Real-IP and X-Forwarded-For "
               "name the client (default 127.0.0.1).",
               "address"),
    });
    parser.process(arguments);
    return readAddress(parser, *this, error) && readTls(parser, *this, error) && readLimits(parser, *this, error)
           && readKeys(parser, *this, error);
}

QSslConfiguration ServerOptions::secureConfiguration(const QSslConfiguration& base)
{
    QSslConfiguration tls = base;
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    QList<QSslCipher> ciphers;
    for (const QSslCipher& cipher : QSslConfiguration::supportedCiphers()) {
        const QString name = cipher.name();
        const bool tls13 = cipher.protocol() == QSsl::TlsV1_3;
        const bool forwardSecret = name.startsWith(QLatin1String("ECDHE-")) || name.startsWith(QLatin1String("DHE-"));
        const bool aead = name.contains(QLatin1String("GCM")) || name.contains(QLatin1String("CHACHA20"));
        if (tls13 || (forwardSecret && aead))
            ciphers.append(cipher);
    }
    tls.setCiphers(ciphers);
    return tls;
}

int ServerOptions::raiseOpenFileLimit()
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return int(qMin<rlim_t>(limit.rlim_cur, 1 << 30));
#else
    return 16384;
#endif
}
