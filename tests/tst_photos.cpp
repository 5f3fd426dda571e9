#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "testsupport.h"
#include "tray/traymanager.h"

// A photo's way from a real HTTPS server on loopback: its download, and the coordinator's queue
// fed as the server connection feeds it.
class TestPhotos : public QObject
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

    void handsOverWhateverArrived_data()
    {
        QTest::addColumn<QString>("path"); // empty: an address that refuses
        QTest::addColumn<TestHttpsServer::Response>("response");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("sizeWarning");
        using Response = TestHttpsServer::Response;
        const QByteArray picture("\x89PNG not really", 15);
        Response never, endless;
        never.never = true;
        endless.endless = true;
        QTest::newRow("picture bytes") << "/a.png" << Response{200, picture} << picture << false;
        QTest::newRow("404 page is handed over")
            << "/missing" << Response{404, "<html>absent</html>"} << QByteArray("<html>absent</html>") << false;
        QTest::newRow("empty answer") << "/empty" << Response() << QByteArray() << false;
        QTest::newRow("no answer: time limit") << "/never" << never << QByteArray() << false;
        QTest::newRow("answer after the time limit")
            << "/late" << Response{200, "late", "text/plain", 1500} << QByteArray() << false;
        QTest::newRow("body that never ends") << "/endless" << endless << QByteArray() << true;
        QTest::newRow("declared length over the bound")
            << "/large" << Response{200, QByteArray(3 * 1024 * 1024, 'x')} << QByteArray() << true;
        QTest::newRow("unreachable") << QString() << Response() << QByteArray() << false;
    }

    void handsOverWhateverArrived()
    {
        QFETCH(QString, path);
        QFETCH(TestHttpsServer::Response, response);
        QFETCH(QByteArray, expected);
        QFETCH(bool, sizeWarning);
        m_server->setResponse(path, response);
        const QUrl url = path.isEmpty() ? TestSupport::refusedUrl(QStringLiteral("https"), QStringLiteral("/x.png"))
                                        : m_server->url(path);
        LogCapture log;
        // Bounds shrunk to a second and 1 MiB so the limits show quickly.
        FileDownloader downloader(url, 1000, 1024 * 1024, nullptr);
        QSignalSpy downloadedSpy(&downloader, &FileDownloader::downloaded);
        QCOMPARE(downloader.downloadedData(), QByteArray());
        QVERIFY(downloadedSpy.wait(10000));
        QCOMPARE(downloader.downloadedData(), expected);
        QTest::qWait(50); // and never a second time
        QCOMPARE(downloadedSpy.size(), 1);
        const QString warning =
            QStringLiteral("Téléchargement interrompu, image trop volumineuse : \"%1\"").arg(url.toString());
        QCOMPARE(log.count(warning), sizeWarning ? 1 : 0);
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
        // The fourth takes the first's place while the two slow ones still run.
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requestedPaths().size() >= 4, 5000);
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 5, 10000);
        QStringList first = m_server->requestedPaths().mid(0, 3);
        first.sort();
        QCOMPARE(first, (QStringList{"/1", "/2", "/3"}));
        QCOMPARE(m_server->requestedPaths().mid(3), (QStringList{"/4", "/5"}));
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

QTEST_MAIN(TestPhotos)
#include "tst_photos.moc"
