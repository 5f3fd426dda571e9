// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "testsupport.h"
#include "tray/clientcounter.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

class TestPhotos : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SKIP_WITHOUT_TLS_SERVER();
        QVERIFY(TestCertificates::trustInProcess() && m_server.listen());
    }

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
        FileDownloader downloader(url, &m_network, 1000, 1 << 20, nullptr); // a second and 1 MiB: limits show quickly
        QSignalSpy downloadedSpy(&downloader, &FileDownloader::downloaded);
        QVERIFY(downloader.downloadedData().isEmpty() && downloadedSpy.wait(10000));
        QCOMPARE(downloader.downloadedData(), outcome == u"bytes"_s ? response.body : QByteArray());
        QVERIFY(!downloadedSpy.wait(50)); // and never a second time
        const QString tooLarge = u"Téléchargement interrompu, image trop volumineuse : \"%1\""_s.arg(url.toString());
        QCOMPARE(log.lines(QtWarningMsg), QStringList(outcome == u"too large"_s, tooLarge));
    }

    void threeAtOnceTheRestInArrivalOrder()
    {
        for (const auto& [path, delay] : {std::pair{u"/1"_s, 0}, {u"/2"_s, 1500}, {u"/3"_s, 1500}, {u"/4"_s, 400}})
            m_server.setResponse(path, 200, TestSupport::png(QSize(64, 48), Qt::blue), delay);
        LogCapture log;
        GlimDeck glimDeck;
        const int before = int(m_server.requestedPaths().size());
        for (const QUrl& url : {QUrl(), m_server.url(u"/1"_s), m_server.url(u"/2"_s), m_server.url(u"/3"_s),
                                m_server.url(u"/4"_s), m_server.url(u"/1"_s)}) // invalid first, /1 twice
            QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, url.toString()),
                                              Q_ARG(QString, QString())));
        QTRY_VERIFY(m_server.requestedPaths().size() >= before + 4); // the fourth starts while the slow ones run
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        int most = 0; // photos on screen together, sampled until the sessions end
        const auto ended = [&] {
            const QList<Overlay*> overlays = TestSupport::windows<Overlay>();
            most = qMax(most, int(std::count_if(overlays.begin(), overlays.end(), std::mem_fn(&QWidget::isVisible))));
            return glimDeck.findChildren<Session*>().isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(ended(), 20000);
        QCOMPARE(most, 3);
        QStringList first = m_server.requestedPaths().mid(before, 3);
        first.sort();
        QCOMPARE(first + m_server.requestedPaths().mid(before + 3), (QStringList{"/1", "/2", "/3", "/4", "/1"}));
        QCOMPARE(log.lines().filter(u"url invalide"_s), QStringList{"GlimDeck::handleGlimDeck url invalide: \"\""});
    }

    // The second photo's request goes out on the first one's connection: no new handshake.
    void photosInARowShareOneConnection()
    {
        m_server.setResponse(u"/a"_s, 200, TestSupport::png(QSize(64, 48), Qt::red));
        m_server.setResponse(u"/b"_s, 200, TestSupport::png(QSize(64, 48), Qt::green));
        GlimDeck glimDeck;
        const int before = m_server.connectionCount();
        for (const QString& path : {u"/a"_s, u"/b"_s}) {
            QVERIFY(QMetaObject::invokeMethod(
                &glimDeck, "handleGlimDeck", Q_ARG(QString, m_server.url(path).toString()), Q_ARG(QString, QString())));
            QTRY_COMPARE(TestSupport::windows<Overlay>().size(), path == u"/a"_s ? 1 : 2);
        }
        QCOMPARE(m_server.requestedPaths().mid(m_server.requestedPaths().size() - 2), (QStringList{"/a", "/b"}));
        QCOMPARE(m_server.connectionCount() - before, 1);
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 10000);
    }

    void trayInertWithoutNotificationArea()
    {
        LogCapture log; // this offscreen platform has no notification area
        TrayManager tray(false, m_server.url(u"/users"_s).toString(), nullptr);
        QVERIFY(!tray.findChild<QSystemTrayIcon*>());
        tray.setConnected(true);
        tray.show();
        QVERIFY(!tray.findChild<ClientCounter*>()); // no count is ever asked for
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"System tray not available on this platform."});
    }

private:
    TestHttpsServer m_server;
    QNetworkAccessManager m_network;
};

QTEST_MAIN(TestPhotos)
#include "tst_photos.moc"
