#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "testsupport.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

// A photo's way from a real HTTPS server on loopback: its download, and the coordinator's queue.
class TestPhotos : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestCertificates::trustInProcess() && m_server.listen()); }

    void handsOverWhateverArrived_data()
    {
        using Response = TestHttpsServer::Response;
        QTest::addColumn<Response>("response"); // status 0: an address that refuses
        QTest::addColumn<QString>("outcome");   // "bytes": what came, handed over; "too large": nothing, logged
        QTest::newRow("picture bytes") << Response{200, QByteArray("\x89PNG not really", 15)} << u"bytes"_s;
        QTest::newRow("404 page is handed over") << Response{404, "<html>absent</html>"} << u"bytes"_s;
        QTest::newRow("empty answer") << Response() << u"bytes"_s;
        QTest::newRow("no answer: time limit") << Response{200, {}, {}, 0, true} << u"nothing"_s;
        QTest::newRow("answer after the time limit") << Response{200, "late", "text/plain", 1500} << u"nothing"_s;
        QTest::newRow("body that never ends") << Response{200, {}, {}, 0, false, true} << u"too large"_s;
        QTest::newRow("declared length over the bound") << Response{200, QByteArray(3 << 20, 'x')} << u"too large"_s;
        QTest::newRow("unreachable") << Response{0, {}} << u"nothing"_s;
    }

    void handsOverWhateverArrived()
    {
        QFETCH(TestHttpsServer::Response, response);
        QFETCH(QString, outcome);
        m_server.setResponse(u"/x"_s, response);
        const QUrl url = response.status ? m_server.url(u"/x"_s) : TestSupport::refusedUrl(u"https"_s, u"/x"_s);
        LogCapture log;
        FileDownloader downloader(url, 1000, 1 << 20, nullptr); // a second and 1 MiB, so the limits show quickly
        QSignalSpy downloadedSpy(&downloader, &FileDownloader::downloaded);
        QVERIFY(downloader.downloadedData().isEmpty() && downloadedSpy.wait(10000));
        QCOMPARE(downloader.downloadedData(), outcome == u"bytes"_s ? response.body : QByteArray());
        QVERIFY(!downloadedSpy.wait(50)); // and never a second time
        const QString tooLarge = u"Téléchargement interrompu, image trop volumineuse : \"%1\""_s.arg(url.toString());
        QCOMPARE(log.lines(QtWarningMsg), QStringList(outcome == u"too large"_s, tooLarge));
    }

    // At most three at once, on screen too; the rest start one by one, oldest first, as places free up.
    // An invalid address is refused, and the same photo twice is shown twice.
    void threeAtOnceTheRestInArrivalOrder()
    {
        const QByteArray picture = TestSupport::png(QSize(64, 48), Qt::blue);
        for (const auto& [path, delay] : {std::pair{"/1", 0}, {"/2", 1500}, {"/3", 1500}, {"/4", 400}})
            m_server.setResponse(QString::fromLatin1(path), 200, picture, delay);
        LogCapture log;
        GlimDeck glimDeck;
        const int before = int(m_server.requestedPaths().size());
        for (const char* path : {"", "/1", "/2", "/3", "/4", "/1"}) {
            const QString url = *path ? m_server.url(QString::fromLatin1(path)).toString() : QString();
            QVERIFY(
                QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, url), Q_ARG(QString, QString())));
        }
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        int most = 0; // photos on screen together
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            const QList<Overlay*> overlays = TestSupport::windows<Overlay>();
            most = qMax(most, int(std::count_if(overlays.begin(), overlays.end(), std::mem_fn(&QWidget::isVisible))));
        });
        watch.start(10);
        // The fourth takes the first's place while the two slow ones still run.
        QTRY_VERIFY(m_server.requestedPaths().size() >= before + 4);
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 20000);
        QCOMPARE(most, 3);
        QStringList first = m_server.requestedPaths().mid(before, 3);
        first.sort();
        QCOMPARE(first + m_server.requestedPaths().mid(before + 3), (QStringList{"/1", "/2", "/3", "/4", "/1"}));
        QCOMPARE(log.lines(QtWarningMsg).filter(u"url invalide"_s),
                 QStringList{"GlimDeck::handleGlimDeck url invalide: \"\""});
    }

    // Without a notification area (this offscreen platform) the tray stays inert and harmless.
    void trayInertWithoutNotificationArea()
    {
        LogCapture log;
        auto* tray = new TrayManager(false, m_server.url(u"/users"_s).toString(), nullptr);
        QVERIFY(!tray->findChild<QSystemTrayIcon*>());
        tray->setConnected(true);
        tray->show();
        QVERIFY(QMetaObject::invokeMethod(tray, "refreshClientCount"));
        QTest::qWait(200); // no request goes out
        delete tray;
        QVERIFY(!m_server.requestedPaths().contains(u"/users"_s));
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"System tray not available on this platform."});
    }

private:
    TestHttpsServer m_server;
};

QTEST_MAIN(TestPhotos)
#include "tst_photos.moc"
