// SPDX-License-Identifier: GPL-3.0-or-later
// glimdeck-loadclients: secure WebSocket listeners and paced uploads against a running
// glimdeck-server on loopback; prints the figures, and exits 1 when one misses its goal.
#include "loadrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QSslCertificate>
#include <QSslConfiguration>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimdeck-loadclients"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load figures for glimdeck-server: listeners, uploads, photos"));
    parser.addHelpOption();
    const QCommandLineOption serverOption(QStringLiteral("server"), QStringLiteral("Server, host:port."),
                                          QStringLiteral("host:port"));
    const QCommandLineOption caOption(QStringLiteral("ca"),
                                      QStringLiteral("PEM authority the server's certificate is "
                                                     "signed by."),
                                      QStringLiteral("file"));
    const QCommandLineOption clientsOption(QStringLiteral("clients"), QStringLiteral("Listeners in the room."),
                                           QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption otherOption(QStringLiteral("other-clients"),
                                         QStringLiteral("Listeners in another room, which must get nothing."),
                                         QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption uploadsOption(QStringLiteral("uploads"), QStringLiteral("Measured uploads."),
                                           QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption warmUpOption(QStringLiteral("warm-up"), QStringLiteral("Uploads before the figures."),
                                          QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("Uploads per second."),
                                        QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption pauseOption(
        QStringLiteral("pause"),
        QStringLiteral("After the warm-up and after the run, print \"PAUSE before|after\" and wait for a line."));
    parser.addOptions(
        {serverOption, caOption, clientsOption, otherOption, uploadsOption, warmUpOption, rateOption, pauseOption});
    parser.process(application);

    LoadRun::Options options;
    options.server = parser.value(serverOption);
    options.room = QStringLiteral("load");
    options.otherRoom = QStringLiteral("elsewhere");
    options.clients = parser.value(clientsOption).toInt();
    options.otherClients = parser.value(otherOption).toInt();
    options.uploads = parser.value(uploadsOption).toInt();
    options.warmUp = parser.value(warmUpOption).toInt();
    options.rate = parser.value(rateOption).toInt();
    options.pause = parser.isSet(pauseOption);
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(parser.value(caOption), QSsl::Pem);
    if (options.server.isEmpty() || authorities.isEmpty() || options.clients < 1 || options.rate < 1) {
        qWarning() << "--server host:port, a readable --ca and positive counts are needed (see --help).";
        return 2;
    }
    // The test authority is trusted on top of the usual ones; no certificate error is ever ignored.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(authorities);

    LoadRun run(options, tls);
    QObject::connect(&run, &LoadRun::finished, &application,
                     [](bool goalsMet) { QCoreApplication::exit(goalsMet ? 0 : 1); });
    run.start();
    return QCoreApplication::exec();
}
