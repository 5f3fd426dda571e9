#include "net/websocketclient.h"
#include "platform/networkwatcher.h"
#include "platform/sleepwatcher.h"
#include "settings/roomlistfile.h"
#include "testsupport.h"

#include <QtDBus>

#include <memory>

namespace {

const QUrl REFUSED = TestSupport::refusedUrl(QStringLiteral("wss"));
const QString PONG_TIMEOUT = QStringLiteral("Timeout Ping/Pong : Le serveur ne répond plus.");
// NetworkManager's global states.
constexpr uint DISCONNECTED = 20;
constexpr uint CONNECTED_GLOBAL = 70;

// A call to the mocks that scripts/with-system-bus.sh runs on the private system bus.
bool callMock(const QString& service, const QString& method, const QVariantList& arguments)
{
    const QString path = QLatin1Char('/') + QString(service).replace(QLatin1Char('.'), QLatin1Char('/'));
    QDBusInterface mock(service, path, QStringLiteral("org.freedesktop.DBus.Mock"), QDBusConnection::systemBus());
    return mock.callWithArgumentList(QDBus::Block, method, arguments).type() == QDBusMessage::ReplyMessage;
}

bool setNetworkState(uint state)
{
    return callMock(QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("SetGlobalConnectionState"),
                    {state});
}

bool prepareForSleep(bool sleeping)
{
    return callMock(QStringLiteral("org.freedesktop.login1"), QStringLiteral("EmitSignal"),
                    {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                     QStringLiteral("b"), QVariantList{QVariant::fromValue(QDBusVariant(sleeping))}});
}

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
    void initTestCase()
    {
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY2(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"), "runs under scripts/with-system-bus.sh");
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QDir().mkpath(QFileInfo(RoomListFile::path()).path()));
        QVERIFY(RoomListFile::save(QFile(RoomListFile::path()), QJsonArray{QStringLiteral("salon")}));
    }

    void cleanupTestCase() { QFile::remove(RoomListFile::path()); }

    void failedAttemptsKeepTheChain_data()
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

    void failedAttemptsKeepTheChain()
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

    // At a thousandth of the timers, the 1,681,000 ms of waiting take under two seconds.
    void backsOffThenGivesUpUntilTheNetworkReturns()
    {
        LogCapture log;
        WebSocketClient client(REFUSED, 1000, nullptr);
        QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Nombre maximum de tentatives de reconnexion atteint.")),
                                 60000);
        // Given up for good: nothing is scheduled any more.
        QTest::qWait(300);
        QStringList expected;
        for (int attempt = 1; attempt <= 60; ++attempt)
            expected.append(
                QStringLiteral("%1 ms (tentative %2 )").arg(attempt < 6 ? 1000 << (attempt - 1) : 30000).arg(attempt));
        QCOMPARE(delaysLogged(log), expected);
        QCOMPARE(log.count(QStringLiteral("Tentative de reconnexion...")), 60);
        QCOMPARE(disconnected.size(), 61);

        // Counted from 0 again, as if freshly started.
        const qsizetype before = log.lines().size();
        NetworkWatcher watcher;
        connect(&watcher, &NetworkWatcher::networkBack, &client, &WebSocketClient::onNetworkBack);
        QVERIFY(setNetworkState(DISCONNECTED));
        QVERIFY(setNetworkState(CONNECTED_GLOBAL));
        QTRY_VERIFY(delaysLogged(log).size() > 60);
        QCOMPARE(delaysLogged(log).at(60), QStringLiteral("1000 ms (tentative 1 )"));
        QCOMPARE(log.lines().mid(before, 2),
                 (QStringList{QStringLiteral("Réseau perdu : reconnexion immédiate à son retour."),
                              QStringLiteral("Réseau rétabli : reconnexion immédiate.")}));
    }

    void lossAfterConnectionStartsAgainAtOneSecond()
    {
        LogCapture log;
        Link link;
        QVERIFY(link.open(100));
        const QString url = QStringLiteral("wss://localhost:%1").arg(link.proxy->port());
        QVERIFY(log.contains(QStringLiteral("Connecting to \"%1\" ...").arg(url)));
        QVERIFY(log.contains(QStringLiteral("Connected to \"%1\"").arg(url)));

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

    void responsivePeerStaysConnected()
    {
        LogCapture log;
        Link link;
        QVERIFY(link.open(100));

        // Ten ping intervals: every deadline is stopped by its pong.
        QTest::qWait(1500);
        QCOMPARE(link.disconnected->size(), 0);
        QCOMPARE(log.count(PONG_TIMEOUT), 0);
    }

    void realKeepAliveTimings()
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
        QCOMPARE(log.count(PONG_TIMEOUT), 1);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Tentative de reconnexion...")), 5000);
        const qint64 reconnectAfter = clock.elapsed() - lossAt;
        QVERIFY2(reconnectAfter >= 950 && reconnectAfter < 2000, qPrintable(QString::number(reconnectAfter)));
        QTRY_COMPARE_WITH_TIMEOUT(link.connected->size(), 2, 5000);
        QCOMPARE(delaysLogged(log), QStringList{"1000 ms (tentative 1 )"});
    }

    void oversizedMessageIsRefused()
    {
        LogCapture log;
        Link link;
        QVERIFY(link.open(100));
        QSignalSpy imageSpy(link.client.get(), &WebSocketClient::imageReceived);
        const QString head =
            QStringLiteral("{\"event\":\"photo:broadcast\",\"data\":{\"image\":\"/a.png\",\"message\":\"");
        const auto broadcastOf = [&head](int bytes) {
            return head + QString(bytes - int(head.size()) - 3, QLatin1Char('a')) + QStringLiteral("\"}}");
        };

        link.server.sendText(broadcastOf(1024 * 1024));
        QVERIFY(imageSpy.wait(5000));
        link.server.sendText(broadcastOf(1024 * 1024 + 1));
        QVERIFY(link.disconnected->wait(5000));
        QVERIFY(link.connected->wait(5000));
        QCOMPARE(imageSpy.size(), 1);
        // Only the oversized message is reported as such, not a later ordinary loss.
        link.server.dropConnections();
        QVERIFY(link.disconnected->wait(5000));
        QCOMPARE(log.lines(QtWarningMsg).filter(QStringLiteral("refusé")),
                 QStringList{QStringLiteral("Message du serveur refusé : plus de 1 Mio.")});
    }

    void networkBackEndsTheBackOff()
    {
        LogCapture log;
        Link link;
        QVERIFY(link.open(4));
        NetworkWatcher watcher;
        connect(&watcher, &NetworkWatcher::networkBack, link.client.get(), &WebSocketClient::onNetworkBack);
        QVERIFY(setNetworkState(DISCONNECTED));
        QTRY_VERIFY(log.contains(QStringLiteral("Réseau perdu : reconnexion immédiate à son retour.")));

        // At a quarter of the timers the 16 s delay still leaves 4 s to wait.
        link.server.stopListening();
        link.server.dropConnections();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Tentative de reconnexion dans 16000 ms (tentative 5 )")),
                                 10000);
        QVERIFY(link.server.resumeListening());
        link.server.clearReceived();
        QVERIFY(setNetworkState(CONNECTED_GLOBAL));
        QTRY_COMPARE_WITH_TIMEOUT(link.server.receivedMessages().size(), 1, 2000);
        QVERIFY(log.contains(QStringLiteral("Réseau rétabli : reconnexion immédiate.")));
        QCOMPARE(delaysLogged(log).size(), 5);
    }

    void resumeChecksTheLinkAtOnce()
    {
        LogCapture log;
        Link link;
        QVERIFY(link.open(1));
        SleepWatcher watcher;
        connect(&watcher, &SleepWatcher::resumed, link.client.get(), &WebSocketClient::onResumed);
        link.server.clearReceived();

        // The server went silent during the sleep; the next ping would be 15 s away.
        QVERIFY(prepareForSleep(true));
        link.proxy->silenceOpenLinks();
        QVERIFY(prepareForSleep(false));
        QTRY_COMPARE_WITH_TIMEOUT(link.server.receivedMessages().size(), 1, 3000 + 1000 + 1500);
        QCOMPARE(log.count(QStringLiteral("Sortie de veille : vérification de la connexion.")), 1);
        QVERIFY(log.contains(PONG_TIMEOUT));
    }

    void destroyedClientRunsNoHandler_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("connected") << "connected";
        QTest::newRow("opening") << "opening";
        QTest::newRow("waiting to reconnect") << "waiting";
    }

    void destroyedClientRunsNoHandler()
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
        } else if (state == QLatin1String("waiting")) {
            QVERIFY(connectedSpy.wait(5000));
            server.stopListening();
            server.dropConnections();
            QVERIFY(disconnectedSpy.wait(5000));
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

private:
    static QStringList delaysLogged(const LogCapture& log);
};

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

QTEST_MAIN(TestWebSocketClient)
#include "tst_websocketclient.moc"
