// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/websocketclient.h"
#include "platform/networkwatcher.h"
#include "platform/sleepwatcher.h"
#include "testsupport.h"

#ifdef Q_OS_LINUX
#include <QtDBus>
#endif

using namespace Qt::StringLiterals;

static const QString FIRST_DELAY = "1000 ms (tentative 1 )";
static const QRegularExpression DELAY("^Tentative de reconnexion dans ");

#ifdef Q_OS_LINUX
static bool mock(const QString& name, const QString& method, const QVariantList& arguments)
{
    QDBusInterface mock(u"org.freedesktop."_s + name, u"/org/freedesktop/"_s + name, u"org.freedesktop.DBus.Mock"_s,
                        QDBusConnection::systemBus());
    return mock.callWithArgumentList(QDBus::Block, method, arguments).type() == QDBusMessage::ReplyMessage;
}
#else
static bool mock(const QString&, const QString&, const QVariantList&)
{
    return false; // no system bus
}
#endif

// NetworkManager's global states: 20 disconnected, 70 connected.
static bool setNetwork(uint state)
{
    return mock(u"NetworkManager"_s, u"SetGlobalConnectionState"_s, {state});
}

static bool prepareForSleep(bool sleeping)
{
    return mock(u"login1"_s, u"EmitSignal"_s,
                {u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s, QVariantList{sleeping}});
}

class TestWebSocketClient : public QObject
{
    Q_OBJECT

    TestWebSocketServer m_untrusted;
    TestHttpsServer m_http;

    static QStringList delays(const LogCapture& log) { return log.lines().filter(DELAY).replaceInStrings(DELAY, {}); }

private slots:
    void initTestCase()
    {
        SKIP_WITHOUT_TLS_SERVER();
        QVERIFY(TestCertificates::trustInProcess());
        QStandardPaths::setTestModeEnabled(true); // no room list of the user's is read
        m_untrusted.setSslConfiguration(TestCertificates::instance().untrustedServerConfiguration());
        QVERIFY(m_untrusted.listen());
        QVERIFY(m_http.listen());
    }

    void failedAttemptsBackOffThenGiveUp_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::newRow("refused") << TestSupport::refusedUrl(u"wss"_s);
        QTest::newRow("untrusted certificate") << m_untrusted.url();
        QTest::newRow("HTTP 404") << QUrl(u"wss://localhost:%1"_s.arg(m_http.port()));
    }

    // At 1/1000 the waits take under 2 s.
    void failedAttemptsBackOffThenGiveUp()
    {
        QFETCH(QUrl, url);
        const QString refused = url.port() == 1 ? u"QAbstractSocket::ConnectionRefusedError"_s : QString();
        LogCapture log;
        auto* client = new WebSocketClient(url, 1000, this);
        connect(new NetworkWatcher(client), &NetworkWatcher::networkBack, client, &WebSocketClient::onNetworkBack);
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Nombre maximum de tentatives de reconnexion atteint."), 30000);
        QTest::qWait(300); // nothing is scheduled any more
        QStringList expected;
        for (int i = 0; i < 60; ++i)
            expected << u"%1 ms (tentative %2 )"_s.arg(i < 5 ? 1000 << i : 30000).arg(i + 1);
        QCOMPARE(delays(log), expected);
        QCOMPARE(log.countStartingWith(u"Erreur WebSocket: "_s + refused), 61);

        qsizetype before = log.lines().size();
        QVERIFY(setNetwork(20));
        QVERIFY(setNetwork(70));
        QTRY_COMPARE(delays(log).value(60), FIRST_DELAY);
        QCOMPARE(log.lines().mid(before, 2), (QStringList{u"Réseau perdu : reconnexion immédiate à son retour."_s,
                                                          "Réseau rétabli : reconnexion immédiate."}));
        // Destroyed amid its attempts, or while it opens.
        before = log.lines().size();
        delete client;
        delete new WebSocketClient(url, 1000, nullptr);
        QTest::qWait(200);
        QCOMPARE(log.lines().mid(before), QStringList{u"Connecting to \"%1\" ..."_s.arg(url.toString())});
    }

    void realTimersAndSystemReports()
    {
#ifndef Q_OS_LINUX
        QSKIP("the sleep and network reports come from logind and NetworkManager mocks on a system bus");
#endif
        LogCapture log;
        TestWebSocketServer server;
        QVERIFY(server.listen());
        SilentProxy proxy(server.port());
        QVERIFY(proxy.listen());
        const QString url = u"wss://localhost:%1"_s.arg(proxy.port());
        auto* client = new WebSocketClient(url, 1, this);
        connect(new NetworkWatcher(client), &NetworkWatcher::networkBack, client, &WebSocketClient::onNetworkBack);
        connect(new SleepWatcher(client), &SleepWatcher::resumed, client, &WebSocketClient::onResumed);
        QSignalSpy connected(client, &WebSocketClient::connected);
        QSignalSpy disconnected(client, &WebSocketClient::disconnected);
        QVERIFY(connected.wait(5000));
        QVERIFY(log.contains(u"Connected to \"%1\""_s.arg(url)));
        // A resume pings at once; the pong stops the deadline.
        QVERIFY(prepareForSleep(true));
        QVERIFY(prepareForSleep(false));
        QVERIFY(!disconnected.wait(3500));

        const QString head = "{\"event\":\"photo:broadcast\",\"data\":{\"image\":\"/a.png\",\"message\":\"";
        for (int bytes : {1024 * 1024, 1024 * 1024 + 1})
            server.sendText(head + QString(bytes - head.size() - 3, u'a') + u"\"}}"_s);
        QVERIFY(disconnected.wait(5000));
        QCOMPARE(log.countStartingWith(u"Image reçue"_s), 1);
        QVERIFY(connected.wait(5000));

        proxy.silenceOpenLinks();
        QVERIFY(disconnected.wait(25000));
        QVERIFY(connected.wait(5000));

        // Found out at once rather than at the next ping.
        QVERIFY(prepareForSleep(true));
        proxy.silenceOpenLinks();
        QVERIFY(prepareForSleep(false));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 4, 10000);
        QCOMPARE(log.count(u"Sortie de veille : vérification de la connexion."_s), 2);
        QCOMPARE(log.count(u"Timeout Ping/Pong : Le serveur ne répond plus."_s), 2);

        // The network's return ends a wait of 2 s at once.
        QVERIFY(setNetwork(20));
        server.stopListening();
        server.closeConnections(QWebSocketProtocol::CloseCodeGoingAway, "au revoir");
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Tentative de reconnexion dans 2000 ms (tentative 2 )"), 3000);
        QVERIFY(server.resumeListening());
        QVERIFY(setNetwork(70));
        QTRY_COMPARE_WITH_TIMEOUT(connected.size(), 5, 1000);
        QVERIFY(log.contains("Déconnecté du serveur WebSocket. Raison: \"au revoir\""));
        QCOMPARE(delays(log), QStringList(4, FIRST_DELAY) << u"2000 ms (tentative 2 )"_s);
        QCOMPARE(log.count(u"Message du serveur refusé : plus de 1 Mio."_s), 1);

        QCOMPARE(server.authorizations(),
                 QByteArrayList(server.connectionsAccepted(), TestSupport::expectedAuthorization()));

        const qsizetype before = log.lines().size();
        delete client;
        QTRY_COMPARE(server.connectionCount(), 0);
        QCOMPARE(log.lines().mid(before), QStringList());
    }
};

QTEST_MAIN(TestWebSocketClient)
#include "tst_websocketclient.moc"
