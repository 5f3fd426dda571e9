#include "logcapture.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "settings/roomlistfile.h"
#include "testcertificates.h"
#include "testwebsocketserver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTest>

namespace {

QString subscription(const QString& rooms)
{
    return QStringLiteral("{\"data\":{\"rooms\":%1},\"event\":\"room:changed\"}").arg(rooms);
}

} // namespace

// Both directions of the wire format, through a real client and server on loopback.
class TestServerMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(TestCertificates::trustInProcess());
    }

    void init()
    {
        QFile::remove(RoomListFile::path());
        delete m_client;
        m_client = nullptr;
        delete m_server;
        m_server = new TestWebSocketServer(this);
        QVERIFY(m_server->listen());
    }

    void endpointsAndTrust()
    {
        // One server reached by both schemes; only the counter has a path.
        const QUrl socket(WS_BASE_URL), users(USERS_URL);
        QCOMPARE(socket.scheme(), QStringLiteral("wss"));
        QCOMPARE(users.scheme(), QStringLiteral("https"));
        QCOMPARE(socket.authority(), users.authority());
        QCOMPARE(socket.path(), QString());
        QCOMPARE(users.path(), QStringLiteral("/users"));

        const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
        const auto testAuthority = QSslCertificate::fromData(TestCertificates::instance().authorityPem());
        QCOMPARE(testAuthority.size(), 1);
        QVERIFY(trusted.contains(testAuthority.first()));
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        QVERIFY(!system.isEmpty());
        for (const QSslCertificate& authority : system)
            QVERIFY(trusted.contains(authority));
        QCOMPARE(QSslConfiguration::defaultConfiguration().peerVerifyMode(), QSslSocket::AutoVerifyPeer);
    }

    // Out of the class body below: moc misreads raw strings with quotes inside.
    void subscriptionOnConnection_data();

    void subscriptionOnConnection()
    {
        QFETCH(bool, fileExists);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, sent);
        QFETCH(int, debugLines);
        if (fileExists)
            writeRoomFile(content);
        LogCapture log;
        connectClient();
        QTest::qWait(200); // a ping interval's worth of quiet: nothing more arrives
        QCOMPARE(m_server->receivedMessages(), sent);
        const QStringList debug = log.lines(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^Erreur|^Extrait")));
        QCOMPARE(debug.size(), debugLines);
        QCOMPARE(log.lines(QtWarningMsg), QStringList());
    }

    void eachConnectionRereadsTheFile()
    {
        writeRoomFile("[\"avant\"]");
        connectClient();
        QTRY_COMPARE(m_server->receivedMessages().size(), 1);
        writeRoomFile("[\"apres\"]");
        QSignalSpy connectedSpy(m_client, &WebSocketClient::connected);
        m_server->dropConnections();
        QVERIFY(connectedSpy.wait(5000));
        QTRY_COMPARE(m_server->receivedMessages().size(), 2);
        QCOMPARE(m_server->receivedMessages().at(1), subscription("[\"apres\"]"));
    }

    void sendRoomsIsCompactAndDroppedWhileDown();
    void broadcasts_data();

    void broadcasts();

    void parseErrorExtract_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("extract");
        // The parser reports the missing end one past the last byte.
        QTest::newRow("breaks off after the fourth byte") << QByteArray("[\"ab") << 5 << QByteArray("[\"ab");
        const QByteArray hundred = "[1," + QByteArray(21, ' ') + "]" + QByteArray(75, ' ');
        QTest::newRow("offset 25 of 100 bytes") << hundred << 25 << hundred.mid(15, 20);
    }

    void parseErrorExtract()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, offset);
        QFETCH(QByteArray, extract);
        LogCapture log;
        QVERIFY(!RoomListFile::parse(content));
        const QStringList lines = log.lines(QtDebugMsg);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("Erreur de parsing JSON : \"")));
        QCOMPARE(lines.at(1), QStringLiteral("Erreur à l'offset (position) : %1").arg(offset));
        QString quoted;
        QDebug(&quoted) << extract;
        QCOMPARE(lines.at(2), QStringLiteral("Extrait proche de l'erreur : ") + quoted.trimmed());
    }

private:
    static void writeRoomFile(const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(RoomListFile::path()).path());
        QFile file(RoomListFile::path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    void connectClient()
    {
        m_client = new WebSocketClient(m_server->url(), 100, this);
        QSignalSpy connectedSpy(m_client, &WebSocketClient::connected);
        QVERIFY(connectedSpy.wait(5000));
    }

    TestWebSocketServer* m_server = nullptr;
    WebSocketClient* m_client = nullptr;
};

void TestServerMessages::subscriptionOnConnection_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("debugLines");
    QTest::newRow("no file") << false << QByteArray() << QStringList() << 0;
    QTest::newRow("empty array") << true << QByteArray("[]") << QStringList{subscription("[]")} << 0;
    QTest::newRow("rooms in file order") << true << QByteArray("[\"zeta\", \"alpha\",\"zeta\"]")
                                         << QStringList{subscription(R"(["zeta","alpha","zeta"])")} << 0;
    QTest::newRow("other types forwarded") << true << QByteArray(R"(["a",1,{"x":2},null,["n"],true])")
                                           << QStringList{subscription(R"(["a",1,{"x":2},null,["n"],true])")} << 0;
    QTest::newRow("object instead of array") << true << QByteArray("{\"rooms\":[\"a\"]}") << QStringList() << 0;
    // The framework's parser takes only an object or an array at the top.
    QTest::newRow("bare value") << true << QByteArray("\"a\"") << QStringList() << 3;
    QTest::newRow("parse error") << true << QByteArray("[\"abc\",") << QStringList() << 3;
    QTest::newRow("empty file") << true << QByteArray() << QStringList() << 3;
}

void TestServerMessages::sendRoomsIsCompactAndDroppedWhileDown()
{
    connectClient();
    m_client->sendRooms(QJsonArray{QStringLiteral("été"), QStringLiteral("a \"b\"")});
    QTRY_COMPARE(m_server->receivedMessages(), QStringList{subscription(R"(["été","a \"b\""])")});
    QSignalSpy disconnectedSpy(m_client, &WebSocketClient::disconnected);
    m_server->stopListening();
    m_server->dropConnections();
    QVERIFY(disconnectedSpy.wait(5000));
    LogCapture log;
    m_client->sendRooms(QJsonArray{QStringLiteral("perdu")});
    QVERIFY(m_server->resumeListening());
    QSignalSpy connectedSpy(m_client, &WebSocketClient::connected);
    QVERIFY(connectedSpy.wait(5000));
    QTest::qWait(100); // the lost list does not come late either
    QCOMPARE(m_server->receivedMessages().size(), 1);
    QCOMPARE(log.lines().filter(QStringLiteral("perdu")), QStringList());
}

void TestServerMessages::broadcasts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("imageUrl"); // empty: no photo
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("warning");
    const auto row = [](const char* name, const QString& text, const QString& imageUrl, const QString& message = {},
                        const QString& warning = {}) { QTest::newRow(name) << text << imageUrl << message << warning; };
    const auto photo = [](const char* data) {
        return QStringLiteral(R"({"event":"photo:broadcast","data":%1})").arg(QLatin1String(data));
    };
    const QString invalid = QStringLiteral("Message JSON invalide.");
    const QString refused = QStringLiteral("Image refusée, adresse hors du serveur : \"%1\"");
    row("photo", photo(R"({"image":"/i/a.png","message":"Salut"})"), HTTPS_BASE_URL + "/i/a.png", "Salut");
    row("extra members", R"({"x":1,"event":"photo:broadcast","data":{"image":"/b","message":"m","y":2}})",
        HTTPS_BASE_URL + "/b", "m");
    row("no data", R"({"event":"photo:broadcast"})", HTTPS_BASE_URL);
    row("wrong types", photo(R"({"image":5,"message":[]})"), HTTPS_BASE_URL);
    row("query and fragment stay on host", photo(R"({"image":"/a.png?x=1#f"})"), HTTPS_BASE_URL + "/a.png?x=1#f");
    row("other event", R"({"event":"room:changed","data":{}})", {});
    row("event in other case", R"({"event":"Photo:Broadcast","data":{"image":"/a"}})", {});
    row("top-level array", "[1,2]", {}, {}, invalid);
    row("empty text", "", {}, {}, invalid);
    row("truncated object", R"({"event":"photo:broadcast")", {}, {}, invalid);
    row("user info moves host", photo(R"({"image":"@evil.example/x.png"})"), {}, {},
        refused.arg(HTTPS_BASE_URL + "@evil.example/x.png"));
    row("longer host name", photo(R"({"image":".evil.example/x.png"})"), {}, {},
        refused.arg(HTTPS_BASE_URL + ".evil.example/x.png"));
    row("other port", photo(R"({"image":"0/x.png"})"), {}, {}, refused.arg(HTTPS_BASE_URL + "0/x.png"));
}

void TestServerMessages::broadcasts()
{
    QFETCH(QString, text);
    QFETCH(QString, imageUrl);
    QFETCH(QString, message);
    QFETCH(QString, warning);
    connectClient();
    QSignalSpy imageSpy(m_client, &WebSocketClient::imageReceived);
    QSignalSpy disconnectedSpy(m_client, &WebSocketClient::disconnected);
    LogCapture log;

    m_server->sendText(text);
    // A valid photo right after proves the first one was handled and the connection kept.
    m_server->sendText(R"({"event":"photo:broadcast","data":{"image":"/next.png","message":"suite"}})");
    QTRY_COMPARE(imageSpy.size(), imageUrl.isEmpty() ? 1 : 2);
    if (!imageUrl.isEmpty()) {
        QCOMPARE(imageSpy.at(0).at(0).toString(), imageUrl);
        QCOMPARE(imageSpy.at(0).at(1).toString(), message);
        QVERIFY(log.contains(QStringLiteral("Image reçue: \"%1\"").arg(imageUrl)));
        QVERIFY(log.contains(QStringLiteral("Message:  \"%1\"").arg(message)));
    }
    QCOMPARE(imageSpy.last().at(0).toString(), HTTPS_BASE_URL + "/next.png");
    QCOMPARE(log.lines(QtWarningMsg), warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(disconnectedSpy.size(), 0);
}

QTEST_MAIN(TestServerMessages)
#include "tst_servermessages.moc"
