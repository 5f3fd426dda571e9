#include "logcapture.h"
#include "net/websocketclient.h"
#include "silentproxy.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "testwebsocketserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebSocketProtocol>

// Connection life cycle against real peers on loopback: a secure WebSocket server, a refused
// port, an untrusted certificate, an HTTP error answer to the upgrade, and a peer gone silent.
class TestWebSocketClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connectsWithoutScheduling();
    void failedAttemptsKeepTheChain_data();
    void failedAttemptsKeepTheChain();
    void backOffTableAndLimit();
    void lossAfterConnectionStartsAgainAtOneSecond();
    void silentPeerIsClosedAtThePongDeadline();
    void responsivePeerStaysConnected();
    void realKeepAliveTimings();
    void destroyedClientRunsNoHandler_data();
    void destroyedClientRunsNoHandler();

private:
    static QStringList delaysLogged(const LogCapture& log);
    static QUrl refusedUrl();
};

void TestWebSocketClient::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
}

QStringList TestWebSocketClient::delaysLogged(const LogCapture& log)
{
    QStringList delays;
    const QString prefix = QStringLiteral("Tentative de reconnexion dans ");
    for (const QString& line : log.lines(QtDebugMsg)) {
        if (line.startsWith(prefix))
            delays.append(line.mid(prefix.size()));
    }
    return delays;
}

QUrl TestWebSocketClient::refusedUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QUrl(QStringLiteral("wss://localhost:%1").arg(probe.serverPort())); // closed when probe goes
}

void TestWebSocketClient::connectsWithoutScheduling()
{
    LogCapture log;
    TestWebSocketServer server;
    QVERIFY(server.listen());
    WebSocketClient client(server.url(), nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);

    QVERIFY(log.contains(QStringLiteral("Connecting to \"%1\" ...").arg(server.url().toString())));
    QVERIFY(connectedSpy.wait(5000));
    QVERIFY(log.contains(QStringLiteral("Connected to \"%1\"").arg(server.url().toString())));
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(disconnectedSpy.size(), 0);
    QCOMPARE(delaysLogged(log), QStringList());
}

void TestWebSocketClient::failedAttemptsKeepTheChain_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("errorLine");
    QTest::newRow("refused connection") << "refused"
                                        << "Erreur WebSocket: QAbstractSocket::ConnectionRefusedError";
    QTest::newRow("untrusted certificate") << "tls"
                                           << "Erreur WebSocket:";
    QTest::newRow("HTTP 404 to the upgrade") << "http"
                                             << "Erreur WebSocket:";
}

void TestWebSocketClient::failedAttemptsKeepTheChain()
{
    QFETCH(QString, failure);
    QFETCH(QString, errorLine);
    LogCapture log;
    TestWebSocketServer untrusted;
    untrusted.setSslConfiguration(TestCertificates::instance().untrustedServerConfiguration());
    TestHttpsServer httpServer;
    QUrl url = refusedUrl();
    if (failure == QLatin1String("tls")) {
        QVERIFY(untrusted.listen());
        url = untrusted.url();
    } else if (failure == QLatin1String("http")) {
        QVERIFY(httpServer.listen());
        url = QUrl(QStringLiteral("wss://localhost:%1").arg(httpServer.port()));
    }

    // Timers at a hundredth; the delays are still logged at their real values.
    WebSocketClient client(url, 100, nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);

    // Were the chain to wait for the late report of an HTTP error, this would take 40 s.
    QTRY_VERIFY_WITH_TIMEOUT(disconnectedSpy.size() >= 4, 8000);
    QCOMPARE(connectedSpy.size(), 0);
    QCOMPARE(delaysLogged(log).mid(0, 3),
             (QStringList{"1000 ms (tentative 1 )", "2000 ms (tentative 2 )", "4000 ms (tentative 3 )"}));
    QVERIFY(log.countStartingWith(errorLine) >= 3);
    QVERIFY(log.count(QStringLiteral("Tentative de reconnexion...")) >= 3);
    QVERIFY(log.countStartingWith(QStringLiteral("Déconnecté du serveur WebSocket. Raison:")) >= 4);
    if (failure == QLatin1String("http"))
        QVERIFY(httpServer.requestedPaths().size() >= 3);
    if (failure == QLatin1String("tls"))
        QCOMPARE(untrusted.connectionsAccepted(), 0);
}

void TestWebSocketClient::backOffTableAndLimit()
{
    LogCapture log;
    // A thousandth: the 1,681,000 ms of waiting take under two seconds.
    WebSocketClient client(refusedUrl(), 1000, nullptr);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);
    const QString limit = QStringLiteral("Nombre maximum de tentatives de reconnexion atteint.");

    QTRY_VERIFY_WITH_TIMEOUT(log.contains(limit), 60000);
    QStringList expected;
    qint64 total = 0;
    for (int attempt = 1; attempt <= 60; ++attempt) {
        const int delay = attempt <= 5 ? 1000 << (attempt - 1) : 30000;
        total += delay;
        expected.append(QStringLiteral("%1 ms (tentative %2 )").arg(delay).arg(attempt));
    }
    QCOMPARE(total, 1681000);
    QCOMPARE(delaysLogged(log), expected);
    QCOMPARE(disconnectedSpy.size(), 61);
    QCOMPARE(log.count(QStringLiteral("Tentative de reconnexion...")), 60);

    // Given up for good: nothing is scheduled any more.
    QTest::qWait(300);
    QCOMPARE(disconnectedSpy.size(), 61);
    QCOMPARE(log.count(limit), 1);
}

void TestWebSocketClient::lossAfterConnectionStartsAgainAtOneSecond()
{
    LogCapture log;
    TestWebSocketServer server;
    QVERIFY(server.listen());
    WebSocketClient client(server.url(), 100, nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);
    QVERIFY(connectedSpy.wait(5000));

    // Refuse two attempts, then accept: the count climbs, then a connection resets it.
    server.stopListening();
    server.closeConnections(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("au revoir"));
    QTRY_COMPARE_WITH_TIMEOUT(disconnectedSpy.size(), 3, 5000);
    QVERIFY(log.contains(QStringLiteral("Déconnecté du serveur WebSocket. Raison: \"au revoir\"")));
    QVERIFY(server.resumeListening());
    QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.size(), 2, 5000);

    server.dropConnections();
    QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.size(), 3, 5000);
    QCOMPARE(delaysLogged(log), (QStringList{"1000 ms (tentative 1 )", "2000 ms (tentative 2 )",
                                             "4000 ms (tentative 3 )", "1000 ms (tentative 1 )"}));
}

void TestWebSocketClient::silentPeerIsClosedAtThePongDeadline()
{
    LogCapture log;
    TestWebSocketServer server;
    QVERIFY(server.listen());
    SilentProxy proxy(server.port());
    QVERIFY(proxy.listen());
    WebSocketClient client(QUrl(QStringLiteral("wss://localhost:%1").arg(proxy.port())), 100, nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);
    QVERIFY(connectedSpy.wait(5000));

    proxy.setSilent(true);
    QVERIFY(disconnectedSpy.wait(5000));
    QCOMPARE(log.count(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")), 1);
    QCOMPARE(delaysLogged(log), QStringList{"1000 ms (tentative 1 )"});

    proxy.setSilent(false);
    QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.size(), 2, 10000);
}

void TestWebSocketClient::responsivePeerStaysConnected()
{
    LogCapture log;
    TestWebSocketServer server;
    QVERIFY(server.listen());
    SilentProxy proxy(server.port());
    QVERIFY(proxy.listen());
    WebSocketClient client(QUrl(QStringLiteral("wss://localhost:%1").arg(proxy.port())), 100, nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);
    QVERIFY(connectedSpy.wait(5000));

    // Ten ping intervals: every deadline is stopped by its pong.
    QTest::qWait(1500);
    QCOMPARE(disconnectedSpy.size(), 0);
    QCOMPARE(log.count(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")), 0);
    QCOMPARE(server.connectionsAccepted(), 1);
}

void TestWebSocketClient::realKeepAliveTimings()
{
    LogCapture log;
    TestWebSocketServer server;
    QVERIFY(server.listen());
    SilentProxy proxy(server.port());
    QVERIFY(proxy.listen());
    WebSocketClient client(QUrl(QStringLiteral("wss://localhost:%1").arg(proxy.port())), nullptr);
    QSignalSpy connectedSpy(&client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(&client, &WebSocketClient::disconnected);
    QVERIFY(connectedSpy.wait(5000));
    QElapsedTimer clock;
    clock.start();
    proxy.setSilent(true);

    // First ping at 15 s, deadline 3 s later, then the first reconnection after 1 s; the
    // timers are coarse, which allows them 5 % either way.
    QVERIFY(disconnectedSpy.wait(25000));
    const qint64 lossAt = clock.elapsed();
    QVERIFY2(lossAt >= 17100 && lossAt < 19500, qPrintable(QString::number(lossAt)));
    QVERIFY(log.contains(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")));
    proxy.setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Tentative de reconnexion...")), 5000);
    const qint64 reconnectAfter = clock.elapsed() - lossAt;
    QVERIFY2(reconnectAfter >= 950 && reconnectAfter < 2000, qPrintable(QString::number(reconnectAfter)));
    QTRY_COMPARE_WITH_TIMEOUT(connectedSpy.size(), 2, 5000);
}

void TestWebSocketClient::destroyedClientRunsNoHandler_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("connected") << "connected";
    QTest::newRow("opening") << "opening";
    QTest::newRow("waiting to reconnect") << "waiting";
}

void TestWebSocketClient::destroyedClientRunsNoHandler()
{
    QFETCH(QString, state);
    TestWebSocketServer server;
    QVERIFY(server.listen());
    LogCapture log;
    auto* client = new WebSocketClient(server.url(), 100, nullptr);
    QSignalSpy connectedSpy(client, &WebSocketClient::connected);
    QSignalSpy disconnectedSpy(client, &WebSocketClient::disconnected);
    if (state == QLatin1String("connected")) {
        QVERIFY(connectedSpy.wait(5000));
        QCOMPARE(server.connectionCount(), 1);
    } else if (state == QLatin1String("waiting")) {
        QVERIFY(connectedSpy.wait(5000));
        server.stopListening();
        server.dropConnections();
        QVERIFY(disconnectedSpy.wait(5000));
        QVERIFY(log.countStartingWith(QStringLiteral("Tentative de reconnexion dans")) == 1);
    }
    const int linesBefore = int(log.lines().size());

    delete client;
    QTest::qWait(200);
    QCOMPARE(log.lines().mid(linesBefore), QStringList());
    QTRY_COMPARE(server.connectionCount(), 0);
    if (state == QLatin1String("waiting")) {
        QVERIFY(server.resumeListening());
        QTest::qWait(200);
        QCOMPARE(server.connectionsAccepted(), 1);
    }
}

QTEST_MAIN(TestWebSocketClient)
#include "tst_websocketclient.moc"
