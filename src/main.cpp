// SPDX-License-Identifier: GPL-3.0-or-later
#include "glimdeck.h"
#include "net/servertrust.h"
#include "net/systemproxy.h"
#include "process/largebuffers.h"
#include "process/logfile.h"
#include "serverconfig.h"

#include <QApplication>
#include <QDebug>
#include <QLockFile>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstring>

namespace {

QString appDataPath(const QString& fileName)
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') + fileName;
}

QString lockPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/')
           + QCoreApplication::applicationName() + QStringLiteral(".lock");
}

// Answered before the application object exists, since that needs a display.
bool helpRequested(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

// Photos rely on X11 to let clicks through, to take the Escape key and to stay on top; in a
// Wayland session with an X display (XWayland) the program runs there. The user's choice wins.
void preferX11OverWayland()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    if (helpRequested(argc, argv)) {
        std::fputs("Usage: glimdeck\n"
                   "Shows the photos sent to your rooms full-screen, from the notification area.\n"
                   "Server: wss://" GLIMDECK_SERVER_HOST_LITERAL " (chosen when the program was built).\n"
                   "Rooms are chosen in the window that a click on the tray icon opens.\n",
                   stdout);
        return 0;
    }
    releaseLargeBuffersToSystem();
    preferX11OverWayland();
    QApplication application(argc, argv);

    // A second instance would show every photo twice and race the first on the room list.
    // A lock left by a crashed instance is stale as soon as its process is gone.
    QLockFile instanceLock(lockPath());
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        qWarning() << "Glim-deck est déjà lancé, cette instance s'arrête.";
        return 2;
    }
    // Only now: a second start must not rotate or write into the running instance's log.
    const LogFile logFile(appDataPath(QCoreApplication::applicationName() + QStringLiteral(".log")));

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qWarning() << "No system tray available, exiting.";
        return 1;
    }
    QGuiApplication::setQuitOnLastWindowClosed(false);

    // The process's set-up, after the log: the coordinator's sockets copy the trusted authorities
    // when they are built, and ask the proxy factory as they connect.
    ServerTrust::install();
    SystemProxy::install();
    GlimDeck glimDeck;
    const int result = QApplication::exec();
    return result;
}
