#include "core/filedownloader.h"
#include "logcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

// One GET against a real HTTPS server on loopback, whatever it answers.
class TestFileDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void handsOverWhateverArrived_data();
    void handsOverWhateverArrived();

private:
    TestHttpsServer m_server;
};

void TestFileDownloader::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
    QVERIFY(m_server.listen());
}

void TestFileDownloader::handsOverWhateverArrived_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<TestHttpsServer::Response>("response");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("sizeWarning");

    TestHttpsServer::Response picture;
    picture.body = QByteArray("\x89PNG not really", 15);
    QTest::newRow("picture bytes") << "/a.png" << picture << picture.body << false;
    TestHttpsServer::Response notFound;
    notFound.status = 404;
    notFound.body = "<html>absent</html>";
    QTest::newRow("404 page is handed over") << "/missing" << notFound << notFound.body << false;
    TestHttpsServer::Response empty;
    QTest::newRow("empty answer") << "/empty" << empty << QByteArray() << false;
    TestHttpsServer::Response never;
    never.never = true;
    QTest::newRow("no answer: time limit") << "/never" << never << QByteArray() << false;
    TestHttpsServer::Response late;
    late.delayMs = 1500;
    late.body = "late";
    QTest::newRow("answer after the time limit") << "/late" << late << QByteArray() << false;
    TestHttpsServer::Response endless;
    endless.endless = true;
    QTest::newRow("body that never ends") << "/endless" << endless << QByteArray() << true;
    TestHttpsServer::Response large;
    large.body = QByteArray(3 * 1024 * 1024, 'x');
    QTest::newRow("declared length over the bound") << "/large" << large << QByteArray() << true;
    QTest::newRow("unreachable") << "refused" << TestHttpsServer::Response() << QByteArray() << false;
}

void TestFileDownloader::handsOverWhateverArrived()
{
    QFETCH(QString, path);
    QFETCH(TestHttpsServer::Response, response);
    QFETCH(QByteArray, expected);
    QFETCH(bool, sizeWarning);
    QUrl url = m_server.url(path);
    if (path == QLatin1String("refused")) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        url = QUrl(QStringLiteral("https://localhost:%1/x.png").arg(probe.serverPort()));
    } else {
        m_server.setResponse(path, response);
    }
    LogCapture log;
    // Bounds shrunk to a second and 1 MiB so the limits show quickly.
    FileDownloader downloader(url, 1000, 1024 * 1024, nullptr);
    QSignalSpy downloadedSpy(&downloader, &FileDownloader::downloaded);
    QCOMPARE(downloader.downloadedData(), QByteArray());
    QVERIFY(downloadedSpy.wait(10000));
    QCOMPARE(downloader.downloadedData(), expected);
    QTest::qWait(50);
    QCOMPARE(downloadedSpy.size(), 1);
    const QString warning =
        QStringLiteral("Téléchargement interrompu, image trop volumineuse : \"%1\"").arg(url.toString());
    QCOMPARE(log.count(warning), sizeWarning ? 1 : 0);
}

QTEST_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
