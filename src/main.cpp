#include "glimdeck.h"

#include <QApplication>
#include <QDebug>
#include <QSystemTrayIcon>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qWarning() << "No system tray available, exiting.";
        return 1;
    }
    QGuiApplication::setQuitOnLastWindowClosed(false);

    GlimDeck glimDeck;
    const int result = QApplication::exec();
    return result;
}
