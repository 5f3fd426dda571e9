// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/recentphotos.h"
#include "core/session.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "settings/pausefile.h"
#include "settings/roomlistfile.h"
#include "settings/settings.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

class TestServerLink : public QObject
{
    Q_OBJECT

    const QString m_path = RoomListFile::path();
    TestWebSocketServer m_server;
    WebSocketClient* m_client = nullptr;

    static QByteArray json(QStringList r) { return QJsonDocument::fromVariant(r).toJson(QJsonDocument::Compact); }
    static QStringList sent(const QString& j)
    {
        return {"{\"data\":{\"rooms\":" + j + "},\"event\":\"room:changed\"}",
                R"({"data":{"known":{}},"event":"photos:missed-request"})"};
    }
    static QLayout* firstRow(const Settings* window)
    {
        return window->findChild<QVBoxLayout*>(u"verticalLayout"_s)->itemAt(0)->layout();
    }
    static QStringList shown(Settings& window)
    {
        QStringList texts;
        for (auto* row : window.findChild<QVBoxLayout*>(u"verticalLayout"_s)->findChildren<QHBoxLayout*>())
            texts.append(qobject_cast<QLabel*>(row->itemAt(0)->widget())->text());
        return texts;
    }

public:
    static void initMain() { QStandardPaths::setTestModeEnabled(true); }

private slots:
    void initTestCase()
    {
        SKIP_WITHOUT_TLS_SERVER();
        QVERIFY(TestCertificates::trustInProcess()); // the system's authorities stay trusted
        const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        QVERIFY(!system.isEmpty());
        QVERIFY(QSet(trusted.begin(), trusted.end()).contains(QSet(system.begin(), system.end())));
        QVERIFY(m_server.listen());
        m_client = new WebSocketClient(m_server.url(), 100, this);
        QVERIFY(QSignalSpy(m_client, &WebSocketClient::connected).wait(5000));
    }

    void coordinatorTogglesTheWindow()
    {
        LogCapture log;
        GlimDeck glimDeck;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
            QTRY_COMPARE(windows<Settings>().size(), 1 - i % 2);
        }
        QTRY_COMPARE(QApplication::focusWidget(), windows<Settings>().first()->findChild<QLineEdit*>(u"textInput"_s));
        const QPointer<Settings> closed = windows<Settings>().first();
        closed->close();
        QTRY_VERIFY(closed.isNull());
        QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
        QCOMPARE(log.count(u"Show settings"_s), 3);
        QCOMPARE(log.count(u"Hide settings"_s), 1);
    }

    // A muted room's photos are kept as seen, never shown.
    void mutedRoom()
    {
        qDeleteAll(windows<Settings>());
        QVERIFY(writeFile(m_path, R"(["r1","r2"])"));
        QFile::remove(PauseFile::path());
        QDateTime now = QDateTime::currentDateTime();
        auto glimDeck = std::make_unique<GlimDeck>([&now] { return now; });
        const auto widget = [](int item) { return firstRow(windows<Settings>().value(0))->itemAt(item)->widget(); };
        const auto muteText = [&] { return qobject_cast<QLabel*>(widget(1))->text(); };
        const auto send = [&glimDeck](const QString& room) {
            showPhoto(glimDeck.get(), refusedUrl(u"https"_s, u"/p"_s), QString(), room);
            return glimDeck->findChildren<Session*>().size();
        };
        QVERIFY(QMetaObject::invokeMethod(glimDeck.get(), "displaySettings"));
        qobject_cast<QPushButton*>(widget(2))->menu()->actions().at(0)->trigger(); // "1 heure"
        const QDateTime until = now.addSecs(3600);
        QCOMPARE(muteText(), u"muet jusqu'à "_s + until.toString(u"HH:mm"_s));
        QCOMPARE(send(u"r1"_s), 0);
        QCOMPARE(send(u"r2"_s), 1);
        const Photo missed{refusedUrl(u"https"_s, u"/m"_s), QString(), u"r1"_s, now, 0};
        emit glimDeck->findChild<WebSocketClient*>()->missedImagesReceived({missed});
        QCOMPARE(glimDeck->findChildren<Session*>().size(), 1);
        QCOMPARE(glimDeck->findChild<RecentPhotos*>()->entries().size(), 3);
        QCOMPARE(glimDeck->findChild<RecentPhotos*>()->unseenCount(), 1);
        qDeleteAll(windows<Settings>());
        glimDeck.reset();
        now = until.addMSecs(-300);
        glimDeck = std::make_unique<GlimDeck>([&now] { return now; });
        QVERIFY(QMetaObject::invokeMethod(glimDeck.get(), "displaySettings"));
        QVERIFY(!muteText().isEmpty());
        now = until;
        QTRY_COMPARE(muteText(), QString());
        QCOMPARE(readFile(PauseFile::path()), QByteArray("{}"));
        QCOMPARE(send(u"r1"_s), 1);
        qDeleteAll(windows<Settings>());
    }

    void fileAtConnectionAndInWindow_data(); // out of the class body: moc misreads raw strings

    void fileAtConnectionAndInWindow()
    {
        QFETCH(QByteArray, content);   // null: no file
        QFETCH(QString, atConnection); // the list sent, or the parse error logged
        QFETCH(QStringList, rows);     // shown; each change is saved whole and sent
        const bool sending = atConnection.startsWith('[');
        const bool damaged = !content.isNull() && !sending;
        QVERIFY(QFileInfo(m_path).dir().removeRecursively());
        if (!content.isNull())
            QVERIFY(writeFile(m_path, content));
        m_server.clearReceived();
        LogCapture log;
        m_server.dropConnections();
        QVERIFY(QSignalSpy(m_client, &WebSocketClient::disconnected).wait(5000));
        m_client->sendRooms({u"perdu"_s}); // lost, quietly
        QVERIFY(QSignalSpy(m_client, &WebSocketClient::connected).wait(5000));
        const QStringList debug = log.lines().filter(QRegularExpression(u"^Erreur (de parsing|à)|^Extrait|perdu"_s));
        QCOMPARE(debug.mid(!sending).join('\n'), sending ? QString() : atConnection);
        Settings window(m_client);
        QCOMPARE(readFile(m_path), content);
        QLineEdit* input = window.findChild<QLineEdit*>(u"textInput"_s);
        QTest::keyClicks(input, u"\rabc"_s); // \r: Enter
        QTest::mouseClick(window.findChild<QPushButton*>(u"validateButton"_s), Qt::LeftButton);
        QTest::keyClicks(input, u"AbC\rabc\r   \rabcdefghijklmn\r"_s);
        QStringList sends = sending ? sent(atConnection) : QStringList();
        for (const QString& room : {u"abc"_s, u"AbC"_s, u"   "_s, u"abcdefghij"_s})
            sends.append(sent(json(rows << room)));
        QCOMPARE(shown(window), rows);
        QCOMPARE(readFile(m_path + ".bak"), damaged ? content : QByteArray());
        QCOMPARE(QFileInfo(m_path).dir().entryList(QDir::Files).size(), damaged ? 2 : 1);
        QCOMPARE(log.countStartingWith(u"Liste des groupes illisible, conservée dans"_s), int(damaged));

        QFile old(m_path);
        QLayout* first = firstRow(&window);
        auto* remove = first->itemAt(first->count() - 1)->widget();
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(qobject_cast<QPushButton*>(remove)->text(), u"Supprimer"_s);
        QSignalSpy destroyed(remove, &QObject::destroyed);
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY(destroyed.isEmpty());        // rows go later
        QCOMPARE(old.readAll(), json(rows)); // the file is replaced whole
        rows.removeAll(QString(rows.first()));
        QCOMPARE(readFile(m_path), json(rows));
        QTRY_COMPARE(destroyed.size(), 1);
        window.removeRoom(u"zz"_s); // not listed: the list stays, yet it is saved and sent again
        QVERIFY(QFile::remove(m_path));
        QVERIFY(QDir().mkpath(m_path)); // no rename can land
        sends << sent(json(rows)) << sent(json(rows));
        window.removeRoom(rows.takeLast());
        QCOMPARE(log.countStartingWith("Erreur d'ouverture"), 1);
        QVERIFY(log.contains("Chemin tenté : \"" + m_path + '"'));
        QCOMPARE(shown(window), rows);
        QVERIFY(QFileInfo(m_path).dir().removeRecursively());
        QTest::keyClicks(input, u"r\r"_s);
        QVERIFY(!QFileInfo(m_path).dir().exists()); // not made again
        sends << sent(json(rows)) << sent(json(rows << "r"));
        QTRY_COMPARE(m_server.receivedMessages(), sends);
    }

    void broadcasts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("image"); // handed over
        QTest::addColumn<QString>("warning");
        const QString photo = uR"({"event":"photo:broadcast","data":{"image":"%1"}})"_s;
        const QString refused = u"Image refusée, adresse hors du serveur : \"%1%2\""_s.arg(HTTPS_BASE_URL);
        const QString none;
        QTest::newRow("query, fragment") << photo.arg("/a?x=1#f") << HTTPS_BASE_URL + "/a?x=1#f" << none;
        QTest::newRow("top-level array") << u"[1,2]"_s << none << u"Message JSON invalide."_s;
        QTest::newRow("user info") << photo.arg('@' + SERVER_HOST + "/x") << none
                                   << refused.arg('@' + SERVER_HOST + "/x");
        QTest::newRow("longer host") << photo.arg(".evil.example/x") << none << refused.arg(".evil.example/x");
        QTest::newRow("other port") << photo.arg("0/x") << none << refused.arg("0/x");
    }

    // A valid photo after each message proves that one was handled and the connection kept.
    void broadcasts()
    {
        QFETCH(QString, text);
        QFETCH(QString, image);
        QFETCH(QString, warning);
        QSignalSpy images(m_client, &WebSocketClient::imageReceived);
        LogCapture log;
        m_server.sendText(text);
        m_server.sendText(uR"({"event":"photo:broadcast","data":{"image":"/n","message":"Salut","room":"r1"}})"_s);
        QList<QVariantList> expected{{HTTPS_BASE_URL + "/n", u"Salut"_s, u"r1"_s}};
        if (!image.isEmpty())
            expected.prepend({image, QString(), QString()});
        QTRY_COMPARE(QList<QVariantList>(images), expected);
        QCOMPARE(log.lines(QtWarningMsg), warning.isEmpty() ? QStringList() : QStringList{warning});
    }
};

void TestServerLink::fileAtConnectionAndInWindow_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("atConnection");
    QTest::addColumn<QStringList>("rows");
    const auto row = [](auto n, QByteArray c, QString s, QStringList r = {}) { QTest::newRow(n) << c << s << r; };
    const QByteArray hundred = "[1," + QByteArray(21, ' ') + "]" + QByteArray(75, ' ');
    const QString at = "Erreur à l'offset (position) : %1\nExtrait proche de l'erreur : \"%2\"";
    row("no file", {}, {});
    row("empty array", "[]", "[]");
    row("order, twice too, among other types", R"(["z", "a \"b\"",1,{"x":2},null,["n"],true,"é","z"])",
        R"(["z","a \"b\"",1,{"x":2},null,["n"],true,"é","z"])", {"z", R"(a "b")", "é", "z"});
    row("object instead of array", R"({"rooms":["a"]})", {});
    row("error at 25 of 100 bytes", hundred, at.arg(25).arg("         ]          "));
    row("empty file", "", at.arg(0).arg(""));
}

QTEST_MAIN(TestServerLink)
#include "tst_serverlink.moc"
