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
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY(m_server.listen());
    }

    void handsOverWhateverArrived_data()
    {
        using Response = TestHttpsServer::Response;
        QTest::addColumn<Response>("response"); // status 0: an address that refuses
        QTest::addColumn<QByteArray>("handedOver");
        QTest::addColumn<bool>("tooLarge");
        const QByteArray notPng("\x89PNG not really", 15);
        QTest::newRow("picture bytes") << Response{200, notPng} << notPng << false;
        QTest::newRow("404 page") << Response{404, "<html>absent</html>"} << QByteArray("<html>absent</html>") << false;
        QTest::newRow("no answer: time limit") << Response{200, {}, {}, 0, true} << QByteArray() << false;
        QTest::newRow("body that never ends") << Response{200, {}, {}, 0, false, true} << QByteArray() << true;
        QTest::newRow("declared length too long") << Response{200, QByteArray(3 << 20, 'x')} << QByteArray() << true;
        QTest::newRow("unreachable") << Response{0, {}} << QByteArray() << false;
    }

    void handsOverWhateverArrived()
    {
        QFETCH(TestHttpsServer::Response, response);
        QFETCH(QByteArray, handedOver);
        QFETCH(bool, tooLarge);
        m_server.setResponse("/x", response);
        const QUrl url = response.status ? m_server.url(u"/x"_s) : TestSupport::refusedUrl(u"https"_s, u"/x"_s);
        LogCapture log;
        FileDownloader downloader(url, &m_network, 1000, 1 << 20, nullptr); // a second, 1 MiB
        QSignalSpy downloaded(&downloader, &FileDownloader::downloaded);
        QVERIFY(downloaded.wait(10000));
        QCOMPARE(downloader.downloadedData(), handedOver);
        QVERIFY(!downloaded.wait(50));
        const QString warning = u"Téléchargement interrompu, image trop volumineuse : \"%1\""_s.arg(url.toString());
        QCOMPARE(log.lines(QtWarningMsg), QStringList(tooLarge, warning));
    }

    void threeAtOnceTheRestInArrivalOrder()
    {
        TestHttpsServer server;
        QVERIFY(server.listen());
        const QByteArray picture = TestSupport::png(QSize(64, 48), Qt::blue);
        server.setResponse("/1", 200, picture);
        server.setResponse("/2", 200, picture, 1500);
        server.setResponse("/3", 200, picture, 1500);
        server.setResponse("/4", 200, picture, 400);
        LogCapture log;
        GlimDeck glimDeck;
        for (const QUrl& url : {QUrl(), server.url("/1"), server.url("/2"), server.url("/3"), server.url("/4"),
                                server.url("/1")}) // invalid first, /1 twice
            QVERIFY(TestSupport::showPhoto(&glimDeck, url, QString()));
        QTRY_VERIFY(server.requestedPaths().size() >= 4); // the fourth starts while the slow ones run
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
        qsizetype most = 0;
        const auto ended = [&] {
            most = qMax(most, TestSupport::windows<Overlay>().size());
            return glimDeck.findChildren<Session*>().isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(ended(), 20000);
        QCOMPARE(most, 3);
        QStringList first = server.requestedPaths().first(3);
        first.sort();
        QCOMPARE(first + server.requestedPaths().mid(3), (QStringList{"/1", "/2", "/3", "/4", "/1"}));
        QCOMPARE(log.lines().filter(u"url invalide"_s), QStringList{"GlimDeck::handleGlimDeck url invalide: \"\""});
        QCOMPARE(server.connectionCount(), 3); // the later requests reuse them
    }

    void trayInertWithoutNotificationArea()
    {
        LogCapture log;
        TrayManager tray(false, m_server.url("/users").toString(), nullptr);
        QVERIFY(!tray.findChild<QSystemTrayIcon*>());
        tray.setConnected(true);
        tray.show();
        QVERIFY(!tray.findChild<ClientCounter*>());
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"System tray not available on this platform."});
    }

private:
    TestHttpsServer m_server;
    QNetworkAccessManager m_network;
};

QTEST_MAIN(TestPhotos)
#include "tst_photos.moc"
