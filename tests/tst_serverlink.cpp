#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "settings/roomlistfile.h"
#include "settings/settings.h"
#include "testsupport.h"

#include <sys/stat.h>

namespace {

QString folder()
{
    return QFileInfo(RoomListFile::path()).path();
}

void writeFile(const QByteArray& content)
{
    QDir().mkpath(folder());
    QFile file(RoomListFile::path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& suffix = QString())
{
    QFile file(RoomListFile::path() + suffix);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

ino_t inode()
{
    struct stat status = {};
    return stat(QFile::encodeName(RoomListFile::path()).constData(), &status) == 0 ? status.st_ino : 0;
}

void add(Settings& window, const QString& room)
{
    window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(room);
    window.addRoom();
}

QStringList rowTexts(Settings& window)
{
    QStringList texts;
    auto* rows = window.findChild<QVBoxLayout*>(QStringLiteral("verticalLayout"));
    for (int i = 0; i < rows->count(); ++i) {
        if (QLayout* row = rows->itemAt(i)->layout())
            texts.append(qobject_cast<QLabel*>(row->itemAt(0)->widget())->text());
    }
    return texts;
}

QString subscription(const QString& rooms)
{
    return QStringLiteral("{\"data\":{\"rooms\":%1},\"event\":\"room:changed\"}").arg(rooms);
}

// The file's form of a list: compact JSON.
QString list(const QStringList& rooms)
{
    return rooms.isEmpty() ? QStringLiteral("[]") : QStringLiteral("[\"%1\"]").arg(rooms.join(QStringLiteral("\",\"")));
}

QString sent(const QStringList& rooms)
{
    return subscription(list(rooms));
}

} // namespace

// The link to the server both ways, through a real client and server on loopback: the rooms
// chosen in the window, kept in their file and sent; the photos announced back.
class TestServerLink : public QObject
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
        QDir(folder()).removeRecursively();
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
        // The built-in authority is added to the system's, which stay trusted.
        const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
        const auto testAuthority = QSslCertificate::fromData(TestCertificates::instance().authorityPem());
        QVERIFY(trusted.contains(testAuthority.value(0)));
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        QVERIFY(!system.isEmpty());
        for (const QSslCertificate& authority : system)
            QVERIFY(trusted.contains(authority));
        QCOMPARE(QSslConfiguration::defaultConfiguration().peerVerifyMode(), QSslSocket::AutoVerifyPeer);
    }

    void addingRooms_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<bool>("useEnter");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("with Valider") << QStringList{"abc"} << false << QStringList{"abc"};
        QTest::newRow("with Enter") << QStringList{"abc"} << true << QStringList{"abc"};
        QTest::newRow("duplicate ignored") << QStringList{"abc", "abc"} << false << QStringList{"abc"};
        QTest::newRow("empty ignored") << QStringList{""} << true << QStringList();
        QTest::newRow("spaces are a room") << QStringList{"   "} << false << QStringList{"   "};
        QTest::newRow("case matters") << QStringList{"AbC", "abc"} << true << QStringList{"AbC", "abc"};
        QTest::newRow("ten characters at most") << QStringList{"abcdefghijklmn"} << true << QStringList{"abcdefghij"};
    }

    // Each room added is shown, saved and sent; nothing else is.
    void addingRooms()
    {
        QFETCH(QStringList, typed);
        QFETCH(bool, useEnter);
        QFETCH(QStringList, rows);
        connectClient();
        Settings window(m_client);
        auto* input = window.findChild<QLineEdit*>(QStringLiteral("textInput"));
        for (const QString& text : typed) {
            QTest::keyClicks(input, text);
            if (useEnter)
                QTest::keyClick(input, Qt::Key_Return);
            else
                QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("validateButton")), Qt::LeftButton);
            QCOMPARE(input->text(), QString());
        }
        QCOMPARE(rowTexts(window), rows);
        QStringList sends;
        for (int i = 1; i <= rows.size(); ++i)
            sends.append(sent(rows.mid(0, i)));
        QTRY_COMPARE(m_server->receivedMessages(), sends);
        QCOMPARE(readFile(), rows.isEmpty() ? QByteArray("<absent>") : list(rows).toUtf8());
    }

    // Every change is shown and sent; on disk a new file replaces the old whole, or nothing moves.
    void removingAndSaving()
    {
        connectClient();
        writeFile("[\"a\",\"b\",\"a\"]");
        const ino_t before = inode();
        Settings window(m_client);
        auto* rows = window.findChild<QVBoxLayout*>(QStringLiteral("verticalLayout"));
        auto* removeA = qobject_cast<QPushButton*>(rows->itemAt(0)->layout()->itemAt(1)->widget());
        QCOMPARE(removeA->text(), QStringLiteral("Supprimer"));
        QSignalSpy destroyed(removeA, &QObject::destroyed);
        QTest::mouseClick(removeA, Qt::LeftButton);
        // Every copy goes; the old rows go on the next pass of the event loop, not under the click.
        QCOMPARE(destroyed.size(), 0);
        QCOMPARE(rowTexts(window), QStringList{"b"});
        QCOMPARE(readFile(), QByteArray("[\"b\"]"));
        QVERIFY(before != inode());
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{"rooms.json"});
        QTRY_COMPARE(destroyed.size(), 1);
        // Not listed: the list stays, yet it is saved and sent again.
        window.removeRoom(QStringLiteral("zz"));

        QFile::remove(RoomListFile::path());
        QVERIFY(QDir().mkpath(RoomListFile::path())); // the path is now a folder: no rename can land
        LogCapture log;
        window.removeRoom(QStringLiteral("b"));
        QVERIFY(QFileInfo(RoomListFile::path()).isDir());
        QCOMPARE(log.countStartingWith(QStringLiteral("Erreur d'ouverture :")), 1);
        QVERIFY(log.contains(QStringLiteral("Chemin tenté : \"%1\"").arg(RoomListFile::path())));
        QCOMPARE(rowTexts(window), QStringList());
        // Nor is a folder that vanished made again by a save.
        QVERIFY(QDir(folder()).removeRecursively());
        add(window, QStringLiteral("r"));
        QVERIFY(!QDir(folder()).exists());
        QTRY_COMPARE(m_server->receivedMessages(), (QStringList{sent({"b"}), sent({"b"}), sent({}), sent({"r"})}));
    }

    void inputHasTheFocusWhenOpened()
    {
        Settings window(nullptr);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QApplication::focusWidget(), window.findChild<QLineEdit*>(QStringLiteral("textInput")));
    }

    // Each request shows a window or hides the one shown; closed by its own button, it is gone.
    void coordinatorTogglesTheWindow()
    {
        LogCapture log;
        GlimDeck glimDeck;
        const auto windows = [] {
            QList<QWidget*> found;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (qobject_cast<Settings*>(widget))
                    found.append(widget);
            }
            return found;
        };
        for (int i = 0; i < 3; ++i) {
            QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
            QTRY_COMPARE(windows().size(), 1 - i % 2);
            if (i == 2)
                windows().first()->close();
        }
        QTRY_COMPARE(windows().size(), 0);
        QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
        QCOMPARE(windows().size(), 1);
        QCOMPARE(log.lines(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^(Show|Hide) settings$"))),
                 (QStringList{"Show settings", "Hide settings", "Show settings", "Show settings"}));
    }

    // Out of the class body below: moc misreads raw strings with quotes inside.
    void fileAtConnectionAndInWindow_data();

    // On connection the file's list is sent as it is; the window shows its strings and leaves
    // the file alone. Saves write the list whole, and a file that could not be read is kept
    // beside once, before the first save.
    void fileAtConnectionAndInWindow()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, sent);
        QFETCH(QStringList, rows);
        QFETCH(bool, damaged);
        QFETCH(QStringList, whereAndWhat); // where a parse error lies and what is around it
        if (!content.isNull())
            writeFile(content);
        LogCapture log;
        connectClient();
        QTest::qWait(200); // a ping interval's worth of quiet: nothing more arrives
        QCOMPARE(m_server->receivedMessages(), sent.isEmpty() ? QStringList() : QStringList{subscription(sent)});
        const QStringList debug = log.lines(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^Erreur|^Extrait")));
        QCOMPARE(debug.size(), damaged && !content.startsWith('{') ? 3 : 0);
        QVERIFY(debug.isEmpty() || debug.first().startsWith(QStringLiteral("Erreur de parsing JSON : \"")));
        if (!whereAndWhat.isEmpty())
            QCOMPARE(debug.mid(1), whereAndWhat);
        QCOMPARE(log.lines(QtWarningMsg), QStringList());

        Settings window(m_client);
        QVERIFY(QDir(folder()).exists());
        QCOMPARE(rowTexts(window), rows);
        QCOMPARE(readFile(), content.isNull() ? QByteArray("<absent>") : content);
        add(window, QStringLiteral("n"));
        add(window, QStringLiteral("o"));
        QCOMPARE(readFile(), list(rows + QStringList{"n", "o"}).toUtf8());
        QCOMPARE(readFile(QStringLiteral(".bak")), damaged ? content : QByteArray("<absent>"));
        QCOMPARE(log.countStartingWith(QStringLiteral("Liste des groupes illisible, conservée dans")), int(damaged));
    }

    void sendRoomsIsCompactAndDroppedWhileDown();
    void broadcasts_data();
    void broadcasts();

private:
    void connectClient()
    {
        m_client = new WebSocketClient(m_server->url(), 100, this);
        QSignalSpy connectedSpy(m_client, &WebSocketClient::connected);
        QVERIFY(connectedSpy.wait(5000));
    }

    TestWebSocketServer* m_server = nullptr;
    WebSocketClient* m_client = nullptr;
};

void TestServerLink::fileAtConnectionAndInWindow_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("sent");       // empty: nothing
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QStringList>("whereAndWhat");
    const auto error = [](int offset, const QByteArray& extract) {
        QString quoted;
        QDebug(&quoted) << extract;
        return QStringList{QStringLiteral("Erreur à l'offset (position) : %1").arg(offset),
                           QStringLiteral("Extrait proche de l'erreur : ") + quoted.trimmed()};
    };
    const QByteArray hundred = "[1," + QByteArray(21, ' ') + "]" + QByteArray(75, ' ');
    const QString order = R"(["zeta","alpha","zeta"])", mixed = R"(["b",1,{"x":2},null,["n"],true,"a"])";
    QTest::newRow("no file") << QByteArray() << QString() << QStringList() << false << QStringList();
    QTest::newRow("empty array") << QByteArray("[]") << "[]" << QStringList() << false << QStringList();
    QTest::newRow("file order, twice too") << QByteArray("[\"zeta\", \"alpha\", \"zeta\"]") << order
                                           << QStringList{"zeta", "alpha", "zeta"} << false << QStringList();
    QTest::newRow("strings among other types")
        << mixed.toUtf8() << mixed << QStringList{"b", "a"} << false << QStringList();
    QTest::newRow("object instead of array")
        << QByteArray("{\"rooms\":[\"a\"]}") << QString() << QStringList() << true << QStringList();
    // The framework's parser takes only an object or an array at the top.
    QTest::newRow("bare value") << QByteArray("\"a\"") << QString() << QStringList() << true << QStringList();
    // The parser reports the missing end one past the last byte.
    QTest::newRow("breaks off after the fourth byte")
        << QByteArray("[\"ab") << QString() << QStringList() << true << error(5, "[\"ab");
    QTest::newRow("error at 25 of 100 bytes")
        << hundred << QString() << QStringList() << true << error(25, hundred.mid(15, 20));
    QTest::newRow("empty file") << QByteArray("") << QString() << QStringList() << true << QStringList();
}

// A list sent while the connection is down is lost; each new connection reads the file again.
void TestServerLink::sendRoomsIsCompactAndDroppedWhileDown()
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
    writeFile("[\"apres\"]");
    QVERIFY(m_server->resumeListening());
    QSignalSpy connectedSpy(m_client, &WebSocketClient::connected);
    QVERIFY(connectedSpy.wait(5000));
    QTest::qWait(100); // the lost list does not come late either
    QTRY_COMPARE(m_server->receivedMessages().mid(1), QStringList{subscription("[\"apres\"]")});
    QCOMPARE(log.lines().filter(QStringLiteral("perdu")), QStringList());
}

void TestServerLink::broadcasts_data()
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

void TestServerLink::broadcasts()
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

QTEST_MAIN(TestServerLink)
#include "tst_serverlink.moc"
