// SPDX-License-Identifier: GPL-3.0-or-later
#include "decodeworker.h"
#include "imageserver.h"
#include "serverlimits.h"
#include "serveroptions.h"

#include <QCoreApplication>
#include <QDebug>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
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
    // A pipe rather than a local socket: the systemd unit allows Internet sockets only.
    if (::pipe(g_signalPipe) != 0)
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

// Every connection holds a descriptor, taken or still waiting with the listener: stay below the
// open-file limit, whatever was asked. Those waiting get what the taken ones leave.
void fitConnectionsToOpenFiles(ServerOptions& options)
{
    const int openFiles = ServerOptions::raiseOpenFileLimit();
    const int fitting = qMax(1, openFiles - ServerLimits::RESERVED_DESCRIPTORS);
    if (options.maxConnections > fitting) {
        qWarning().noquote() << "Limite de fichiers ouverts" << openFiles << ":" << fitting
                             << "connexions au plus au lieu de" << options.maxConnections;
        options.maxConnections = fitting;
    }
    options.maxAcceptedWaiting = qBound(1, fitting - options.maxConnections, ServerLimits::MAX_ACCEPTED_WAITING);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], DecodeWorker::WORKER_ARGUMENT) == 0)
        return DecodeWorker::runChild(argc, argv);
    // GLib's event loop looks through every socket it watches on each change of one: a room's
    // crowd of thousands spent half the server's time there. Qt's own loop keeps them hashed.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimdeck-server"));

    ServerOptions options;
    QString error;
    if (!options.parse(QCoreApplication::arguments(), &error)) {
        qWarning().noquote() << error;
        return 2;
    }
    fitConnectionsToOpenFiles(options);

    ImageServer server(options);
    if (!server.listen(options.address, options.port))
        return 1;
#ifdef Q_OS_UNIX
    quitOnTerminationSignals(application);
#endif
    return QCoreApplication::exec();
}
