#include "logcapture.h"
#include "net/websocketclient.h"
#include "platform/networkwatcher.h"
#include "platform/sleepwatcher.h"
#include "settings/roomlistfile.h"
#include "silentproxy.h"
#include "systembusmock.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "testwebsocketserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWebSocketProtocol>

#include <memory>

namespace {

// Nothing listens on port 1 of loopback: every attempt is refused.
const QUrl REFUSED(QStringLiteral("wss://127.0.0.1:1"));

// A secure server, a proxy in front of it that can go silent, and a client connected through it.
struct Link
{
    TestWebSocketServer server;
    std::unique_ptr<SilentProxy> proxy;
    std::unique_ptr<WebSocketClient> client;
    std::unique_ptr<QSignalSpy> connected;
    std::unique_ptr<QSignalSpy> disconnected;

    // Timers at 1/timeDivisor of their intervals; the log still shows the real values.
    bool open(int timeDivisor)
    {
        if (!server.listen())
            return false;
        proxy = std::make_unique<SilentProxy>(server.port());
        if (!proxy->listen())
            return false;
        const QUrl url(QStringLiteral("wss://localhost:%1").arg(proxy->port()));
        client = timeDivisor == 1 ? std::make_unique<WebSocketClient>(url, nullptr)
                                  : std::make_unique<WebSocketClient>(url, timeDivisor, nullptr);
        connected = std::make_unique<QSignalSpy>(client.get(), &WebSocketClient::connected);
        disconnected = std::make_unique<QSignalSpy>(client.get(), &WebSocketClient::disconnected);
        return connected->wait(5000);
    }
};

} // namespace

// Connection life cycle against real peers on loopback: a secure WebSocket server, a refused
// port, an untrusted certificate, an HTTP error answer to the upgrade, a peer gone silent, and
// the system's reports of the network and of sleep on a private system bus.
class TestWebSocketClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectsWithoutScheduling();
    void failedAttemptsKeepTheChain_data();
    void failedAttemptsKeepTheChain();
    void backOff_data();
    void backOff();
    void givesUpAtTheLimit();
    void lossAfterConnectionStartsAgainAtOneSecond();
    void silentPeerIsClosedAtThePongDeadline();
    void responsivePeerStaysConnected();
    void realKeepAliveTimings();
    void oversizedMessageIsRefused();
    void networkBackEndsTheBackOff();
    void resumeChecksTheLinkAtOnce();
    void givenUpClientStartsAgainWhenNetworkReturns();
    void destroyedClientRunsNoHandler_data();
    void destroyedClientRunsNoHandler();

private:
    static QStringList delaysLogged(const LogCapture& log);
    void runToTheLimit();

    SystemBusMock m_bus;
    std::unique_ptr<WebSocketClient> m_givenUp;
    QStringList m_givenUpLog;
    int m_givenUpDisconnections = 0;
};

void TestWebSocketClient::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
    QVERIFY2(m_bus.start(), "needs dbus-daemon and python3-dbusmock (scripts/setup.sh installs them)");
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QDir().mkpath(QFileInfo(RoomListFile::path()).path()));
    QVERIFY(RoomListFile::save(QFile(RoomListFile::path()), QJsonArray{QStringLiteral("salon")}));
}

void TestWebSocketClient::cleanupTestCase()
{
    QFile::remove(RoomListFile::path());
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

void TestWebSocketClient::connectsWithoutScheduling()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(1));
    const QString url = QStringLiteral("wss://localhost:%1").arg(link.proxy->port());
    QVERIFY(log.contains(QStringLiteral("Connecting to \"%1\" ...").arg(url)));
    QVERIFY(log.contains(QStringLiteral("Connected to \"%1\"").arg(url)));
    QCOMPARE(link.server.connectionCount(), 1);
    QCOMPARE(link.disconnected->size(), 0);
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
    QUrl url = REFUSED;
    if (failure == QLatin1String("tls")) {
        QVERIFY(untrusted.listen());
        url = untrusted.url();
    } else if (failure == QLatin1String("http")) {
        QVERIFY(httpServer.listen());
        url = QUrl(QStringLiteral("wss://localhost:%1").arg(httpServer.port()));
    }

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

// One client run to its limit serves the back-off rows and the tests of giving up: at a
// thousandth of the timers, its 1,681,000 ms of waiting take under two seconds.
void TestWebSocketClient::runToTheLimit()
{
    if (!m_givenUp) {
        LogCapture log;
        m_givenUp = std::make_unique<WebSocketClient>(REFUSED, 1000, nullptr);
        QSignalSpy disconnectedSpy(m_givenUp.get(), &WebSocketClient::disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Nombre maximum de tentatives de reconnexion atteint.")),
                                 60000);
        // Given up for good: nothing is scheduled any more.
        QTest::qWait(300);
        m_givenUpLog = log.lines();
        m_givenUpDisconnections = int(disconnectedSpy.size());
    }
}

void TestWebSocketClient::backOff_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<int>("delay");
    QTest::newRow("1") << 1 << 1000;
    QTest::newRow("2") << 2 << 2000;
    QTest::newRow("3") << 3 << 4000;
    QTest::newRow("4") << 4 << 8000;
    QTest::newRow("5") << 5 << 16000;
    QTest::newRow("6") << 6 << 30000;
    QTest::newRow("60") << 60 << 30000;
}

void TestWebSocketClient::backOff()
{
    QFETCH(int, attempt);
    QFETCH(int, delay);
    runToTheLimit();
    const QString line = QStringLiteral("Tentative de reconnexion dans %1 ms (tentative %2 )").arg(delay).arg(attempt);
    QCOMPARE(m_givenUpLog.count(line), 1);
}

void TestWebSocketClient::givesUpAtTheLimit()
{
    runToTheLimit();
    QCOMPARE(m_givenUpLog.filter(QStringLiteral("Tentative de reconnexion dans")).size(), 60);
    QCOMPARE(m_givenUpLog.count(QStringLiteral("Tentative de reconnexion...")), 60);
    QCOMPARE(m_givenUpLog.count(QStringLiteral("Nombre maximum de tentatives de reconnexion atteint.")), 1);
    QCOMPARE(m_givenUpDisconnections, 61);
}

void TestWebSocketClient::lossAfterConnectionStartsAgainAtOneSecond()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(100));

    // Refuse two attempts, then accept: the count climbs, then a connection resets it.
    link.server.stopListening();
    link.server.closeConnections(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("au revoir"));
    QTRY_COMPARE_WITH_TIMEOUT(link.disconnected->size(), 3, 5000);
    QVERIFY(log.contains(QStringLiteral("Déconnecté du serveur WebSocket. Raison: \"au revoir\"")));
    QVERIFY(link.server.resumeListening());
    QTRY_COMPARE_WITH_TIMEOUT(link.connected->size(), 2, 5000);

    link.server.dropConnections();
    QTRY_COMPARE_WITH_TIMEOUT(link.connected->size(), 3, 5000);
    QCOMPARE(delaysLogged(log), (QStringList{"1000 ms (tentative 1 )", "2000 ms (tentative 2 )",
                                             "4000 ms (tentative 3 )", "1000 ms (tentative 1 )"}));
}

void TestWebSocketClient::silentPeerIsClosedAtThePongDeadline()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(100));

    link.proxy->silenceOpenLinks();
    QVERIFY(link.disconnected->wait(5000));
    QCOMPARE(log.count(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")), 1);
    QCOMPARE(delaysLogged(log), QStringList{"1000 ms (tentative 1 )"});
    QVERIFY(link.connected->wait(5000));
}

void TestWebSocketClient::responsivePeerStaysConnected()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(100));

    // Ten ping intervals: every deadline is stopped by its pong.
    QTest::qWait(1500);
    QCOMPARE(link.disconnected->size(), 0);
    QCOMPARE(log.count(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")), 0);
    QCOMPARE(link.server.connectionsAccepted(), 1);
}

void TestWebSocketClient::realKeepAliveTimings()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(1));
    QElapsedTimer clock;
    clock.start();
    link.proxy->silenceOpenLinks();

    // First ping at 15 s, deadline 3 s later, then the first reconnection after 1 s; the
    // timers are coarse, which allows them 5 % either way.
    QVERIFY(link.disconnected->wait(25000));
    const qint64 lossAt = clock.elapsed();
    QVERIFY2(lossAt >= 17100 && lossAt < 19500, qPrintable(QString::number(lossAt)));
    QVERIFY(log.contains(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")));
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Tentative de reconnexion...")), 5000);
    const qint64 reconnectAfter = clock.elapsed() - lossAt;
    QVERIFY2(reconnectAfter >= 950 && reconnectAfter < 2000, qPrintable(QString::number(reconnectAfter)));
    QTRY_COMPARE_WITH_TIMEOUT(link.connected->size(), 2, 5000);
}

void TestWebSocketClient::oversizedMessageIsRefused()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(100));
    QSignalSpy imageSpy(link.client.get(), &WebSocketClient::imageReceived);
    const QString head = QStringLiteral(R"({"event":"photo:broadcast","data":{"image":"/a.png","message":")");
    const auto broadcastOf = [&head](int bytes) {
        return head + QString(bytes - int(head.size()) - 3, QLatin1Char('a')) + QStringLiteral("\"}}");
    };

    link.server.sendText(broadcastOf(1024 * 1024));
    QVERIFY(imageSpy.wait(5000));
    link.server.sendText(broadcastOf(1024 * 1024 + 1));
    QVERIFY(link.disconnected->wait(5000));
    QCOMPARE(log.lines(QtWarningMsg).first(), QStringLiteral("Message du serveur refusé : plus de 1 Mio."));
    QCOMPARE(log.count(QStringLiteral("Message du serveur refusé : plus de 1 Mio.")), 1);
    QCOMPARE(delaysLogged(log), QStringList{"1000 ms (tentative 1 )"});
    QVERIFY(link.connected->wait(5000));
    QCOMPARE(imageSpy.size(), 1);
    link.server.dropConnections();
    QVERIFY(link.disconnected->wait(5000));
    QCOMPARE(log.count(QStringLiteral("Message du serveur refusé : plus de 1 Mio.")), 1);
}

void TestWebSocketClient::networkBackEndsTheBackOff()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(4));
    NetworkWatcher watcher;
    connect(&watcher, &NetworkWatcher::networkBack, link.client.get(), &WebSocketClient::onNetworkBack);
    QVERIFY(m_bus.setNetworkState(SystemBusMock::DISCONNECTED));
    QTRY_VERIFY(log.contains(QStringLiteral("Réseau perdu : reconnexion immédiate à son retour.")));

    // At a quarter of the timers the 16 s delay still leaves 4 s to wait.
    link.server.stopListening();
    link.server.dropConnections();
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Tentative de reconnexion dans 16000 ms (tentative 5 )")),
                             10000);
    QVERIFY(link.server.resumeListening());
    link.server.clearReceived();
    QVERIFY(m_bus.setNetworkState(SystemBusMock::CONNECTED_GLOBAL));
    QTRY_COMPARE_WITH_TIMEOUT(link.server.receivedMessages().size(), 1, 2000);
    QVERIFY(log.contains(QStringLiteral("Réseau rétabli : reconnexion immédiate.")));
    QCOMPARE(delaysLogged(log).size(), 5);
}

void TestWebSocketClient::resumeChecksTheLinkAtOnce()
{
    LogCapture log;
    Link link;
    QVERIFY(link.open(1));
    SleepWatcher watcher;
    connect(&watcher, &SleepWatcher::resumed, link.client.get(), &WebSocketClient::onResumed);
    link.server.clearReceived();

    // The server went silent during the sleep; the next ping would be 15 s away.
    QVERIFY(m_bus.prepareForSleep(true));
    link.proxy->silenceOpenLinks();
    QVERIFY(m_bus.prepareForSleep(false));
    QTRY_COMPARE_WITH_TIMEOUT(link.server.receivedMessages().size(), 1, 3000 + 1000 + 1500);
    QCOMPARE(log.count(QStringLiteral("Sortie de veille : vérification de la connexion.")), 1);
    QVERIFY(log.contains(QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.")));
    QCOMPARE(delaysLogged(log), QStringList{"1000 ms (tentative 1 )"});
}

void TestWebSocketClient::givenUpClientStartsAgainWhenNetworkReturns()
{
    runToTheLimit();
    LogCapture log;
    NetworkWatcher watcher;
    connect(&watcher, &NetworkWatcher::networkBack, m_givenUp.get(), &WebSocketClient::onNetworkBack);
    QVERIFY(m_bus.setNetworkState(SystemBusMock::DISCONNECTED));
    QVERIFY(m_bus.setNetworkState(SystemBusMock::CONNECTED_GLOBAL));
    // Counted from 0 again, as if freshly started.
    QTRY_COMPARE(delaysLogged(log).value(0), QStringLiteral("1000 ms (tentative 1 )"));
    QCOMPARE(log.lines().first(), QStringLiteral("Réseau perdu : reconnexion immédiate à son retour."));
    QCOMPARE(log.lines().at(1), QStringLiteral("Réseau rétabli : reconnexion immédiate."));
    m_givenUp.reset();
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
