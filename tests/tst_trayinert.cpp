#include "logcapture.h"
#include "testhttpsserver.h"
#include "tray/traymanager.h"

#include <QSystemTrayIcon>
#include <QTest>

// Without a notification area (the offscreen platform) the tray stays inert and harmless.
class TestTrayInert : public QObject
{
    Q_OBJECT

private slots:
    void inertWithoutNotificationArea()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        TestHttpsServer server;
        QVERIFY(server.listen());
        LogCapture log;
        auto* tray = new TrayManager(false, server.url(QStringLiteral("/users")).toString(), nullptr);
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"System tray not available on this platform."});
        QVERIFY(!tray->findChild<QSystemTrayIcon*>());
        tray->setConnected(true);
        tray->setConnected(false);
        tray->show();
        tray->hide();
        QVERIFY(QMetaObject::invokeMethod(tray, "refreshClientCount"));
        QTest::qWait(200); // no request goes out
        QCOMPARE(server.requestedPaths(), QStringList());
        delete tray;
        QCOMPARE(log.lines(QtWarningMsg).size(), 1);
    }
};

QTEST_MAIN(TestTrayInert)
#include "tst_trayinert.moc"
