#include "core/filedownloader.h"
#include "logcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QTest>

// One GET against a real HTTPS server on loopback, whatever it answers.
class TestFileDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY(m_server.listen());
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
        m_server.setResponse(path, response);
        const QUrl url = path.isEmpty() ? TestSupport::refusedUrl(QStringLiteral("https"), QStringLiteral("/x.png"))
                                        : m_server.url(path);
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

private:
    TestHttpsServer m_server;
};

QTEST_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
