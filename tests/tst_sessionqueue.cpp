#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "logcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "testsupport.h"
#include "tray/traymanager.h"

#include <QApplication>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTest>

// The coordinator's queue, fed as the server connection feeds it, with real sessions
// downloading from loopback.
class TestSessionQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestCertificates::trustInProcess()); }

    void init()
    {
        delete m_server;
        m_server = new TestHttpsServer(this);
        QVERIFY(m_server->listen());
        for (const char* path : {"/1", "/2", "/3", "/4", "/5"})
            m_server->setResponse(QString::fromLatin1(path), 200, "pas une image", 400);
    }

    void threeAtOnceTheRestInArrivalOrder()
    {
        // The first ends at once, the next two much later: the waiting ones must start one by one,
        // oldest first, as places free up.
        m_server->setResponse(QStringLiteral("/1"), 200, "pas une image");
        m_server->setResponse(QStringLiteral("/2"), 200, "pas une image", 1500);
        m_server->setResponse(QStringLiteral("/3"), 200, "pas une image", 1500);
        GlimDeck glimDeck;
        for (const char* path : {"/1", "/2", "/3", "/4", "/5"})
            handle(glimDeck, QString::fromLatin1(path));
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        QTRY_COMPARE(m_server->requestedPaths().size(), 3);
        QStringList first = m_server->requestedPaths();
        first.sort();
        QCOMPARE(first, (QStringList{"/1", "/2", "/3"}));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 4, 5000);
        QCOMPARE(m_server->requestedPaths().last(), QStringLiteral("/4"));
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 5, 10000);
        QCOMPARE(m_server->requestedPaths().last(), QStringLiteral("/5"));
        QTRY_COMPARE_WITH_TIMEOUT(glimDeck.findChildren<Session*>().size(), 0, 10000);
    }

    void duplicatesAndInvalidAddresses()
    {
        LogCapture log;
        GlimDeck glimDeck;
        handle(glimDeck, QString());
        QVERIFY(log.contains(QStringLiteral("GlimDeck::handleGlimDeck url invalide: \"\"")));
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 0);
        // The queue still works after it, and the same photo twice is shown twice.
        handle(glimDeck, QStringLiteral("/1"));
        handle(glimDeck, QStringLiteral("/1"));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths(), (QStringList{"/1", "/1"}), 5000);
    }

    void neverMoreThanThreeOnScreen()
    {
        m_server->setResponse(QStringLiteral("/photo.png"), 200, TestSupport::png(QSize(64, 48), Qt::blue));
        GlimDeck glimDeck;
        for (int i = 0; i < 5; ++i)
            handle(glimDeck, QStringLiteral("/photo.png"));
        QSet<QWidget*> seen;
        int most = 0;
        const auto shownNow = [&] {
            int shown = 0;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<Overlay*>(widget) && widget->isVisible()) {
                    seen.insert(widget);
                    ++shown;
                }
            }
            most = qMax(most, shown);
            return shown;
        };
        // The fifth is on screen when it is first seen.
        QVERIFY(QTest::qWaitFor([&] { return shownNow() > 0 && seen.size() == 5; }, 20000));
        QCOMPARE(most, 3);
        QTRY_COMPARE_WITH_TIMEOUT(shownNow(), 0, 10000);
    }

    // Without a notification area (this offscreen platform) the tray stays inert and harmless.
    void trayInertWithoutNotificationArea()
    {
        LogCapture log;
        auto* tray = new TrayManager(false, m_server->url(QStringLiteral("/users")).toString(), nullptr);
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"System tray not available on this platform."});
        QVERIFY(!tray->findChild<QSystemTrayIcon*>());
        tray->setConnected(true);
        tray->show();
        QVERIFY(QMetaObject::invokeMethod(tray, "refreshClientCount"));
        QTest::qWait(200); // no request goes out
        delete tray;
        QCOMPARE(m_server->requestedPaths(), QStringList());
        QCOMPARE(log.lines(QtWarningMsg).size(), 1);
    }

private:
    void handle(GlimDeck& glimDeck, const QString& path)
    {
        const QString url = path.isEmpty() ? QString() : m_server->url(path).toString();
        QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, url), Q_ARG(QString, QString())));
    }

    TestHttpsServer* m_server = nullptr;
};

QTEST_MAIN(TestSessionQueue)
#include "tst_sessionqueue.moc"
