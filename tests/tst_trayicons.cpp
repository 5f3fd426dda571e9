#include "tray/traymanager.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QSystemTrayIcon>
#include <QTest>

// On a screen scaled by 2 the tray shows the pictures drawn at 44 x 44, in both states.
class TestTrayIcons : public QObject
{
    Q_OBJECT

private slots:
    void sharpOnDoubledScreen_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("file");
        QTest::newRow("connected") << true << QStringLiteral(":/icons/data/icons/icon@2x.png");
        QTest::newRow("disconnected") << false << QStringLiteral(":/icons/data/icons/icon-red@2x.png");
    }

    void sharpOnDoubledScreen()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a notification area (the test script runs trayer under Xvfb)");
        QFETCH(bool, connected);
        QFETCH(QString, file);
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        TrayManager tray(false, nullptr);
        tray.setConnected(connected);
        const QIcon icon = tray.findChild<QSystemTrayIcon*>()->icon();
        QVERIFY(icon.availableSizes().contains(QSize(44, 44)));
        const QImage shown = icon.pixmap(QSize(22, 22), 2.0).toImage();
        QCOMPARE(shown.size(), QSize(44, 44));
        QCOMPARE(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 QImage(file).convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
};

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    TestTrayIcons test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trayicons.moc"
