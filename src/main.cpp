#include "glimdeck.h"
#include "largebuffers.h"
#include "logfile.h"

#include <QApplication>
#include <QDebug>
#include <QLockFile>
#include <QStandardPaths>
#include <QSystemTrayIcon>

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
    releaseLargeBuffersToSystem();
    preferX11OverWayland();
    QApplication application(argc, argv);
    LogFile::install(appDataPath(QCoreApplication::applicationName() + QStringLiteral(".log")));

    // A second instance would show every photo twice and race the first on the room list.
    // A lock left by a crashed instance is stale as soon as its process is gone.
    QLockFile instanceLock(lockPath());
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        qWarning() << "Glim-deck est déjà lancé, cette instance s'arrête.";
        return 2;
    }

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qWarning() << "No system tray available, exiting.";
        return 1;
    }
    QGuiApplication::setQuitOnLastWindowClosed(false);

    GlimDeck glimDeck;
    const int result = QApplication::exec();
    return result;
}
