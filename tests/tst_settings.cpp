#include "glimdeck.h"
#include "logcapture.h"
#include "net/websocketclient.h"
#include "settings/roomlistfile.h"
#include "settings/settings.h"
#include "testcertificates.h"
#include "testwebsocketserver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QVBoxLayout>

#include <sys/stat.h>

// The room list window and its file, with a real connection to a server on loopback that
// records every list it is sent.
class TestSettings : public QObject
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
        m_server = new TestWebSocketServer(this);
        QVERIFY(m_server->listen());
        m_client = new WebSocketClient(m_server->url(), 100, this);
        QSignalSpy connected(m_client, &WebSocketClient::connected);
        QVERIFY(connected.wait(5000));
        m_server->clearReceived();
    }

    void cleanup()
    {
        delete m_client;
        delete m_server;
    }

    void loadsWhatTheFileHolds_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("logLines");
        QTest::newRow("no file") << QByteArray() << QStringList() << 0;
        QTest::newRow("object") << QByteArray("{\"a\":1}") << QStringList() << 0;
        QTest::newRow("strings among other types")
            << QByteArray("[\"b\",1,null,[\"n\"],\"a\",{}]") << QStringList{"b", "a"} << 0;
        QTest::newRow("the same room twice") << QByteArray("[\"x\",\"x\"]") << QStringList{"x", "x"} << 0;
        QTest::newRow("parse error") << QByteArray("[\"x\"") << QStringList() << 3;
    }

    void loadsWhatTheFileHolds()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, rows);
        QFETCH(int, logLines);
        if (!content.isEmpty())
            writeFile(content);
        LogCapture log;
        Settings window(m_client);
        QVERIFY(QDir(folder()).exists());
        QCOMPARE(rowTexts(window), rows);
        QCOMPARE(log.lines().size(), logLines);
        QCOMPARE(readFile(), content.isEmpty() ? QByteArray("<absent>") : content);
    }

    void damagedFileIsKeptBesideBeforeTheFirstSave()
    {
        const QByteArray damaged = "[\"salle1\", \"salle2\"";
        writeFile(damaged);
        LogCapture log;
        Settings window(m_client);
        add(window, QStringLiteral("neuve"));
        QCOMPARE(readFile(QStringLiteral(".bak")), damaged);
        QCOMPARE(readFile(), QByteArray("[\"neuve\"]"));
        QCOMPARE(log.countStartingWith(QStringLiteral("Liste des groupes illisible, conservée dans")), 1);
        // Only the first save keeps a copy: the backup is of the damaged file, not of ours.
        add(window, QStringLiteral("autre"));
        QCOMPARE(readFile(QStringLiteral(".bak")), damaged);
    }

    void addingRooms_data()
    {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<bool>("useEnter");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("saves");
        QTest::newRow("with Valider") << QStringList{"abc"} << false << QStringList{"abc"} << 1;
        QTest::newRow("with Enter") << QStringList{"abc"} << true << QStringList{"abc"} << 1;
        QTest::newRow("duplicate ignored") << QStringList{"abc", "abc"} << false << QStringList{"abc"} << 1;
        QTest::newRow("empty ignored") << QStringList{""} << true << QStringList() << 0;
        QTest::newRow("spaces are a room") << QStringList{"   "} << false << QStringList{"   "} << 1;
        QTest::newRow("case matters") << QStringList{"AbC", "abc"} << true << QStringList{"AbC", "abc"} << 2;
        QTest::newRow("ten characters at most")
            << QStringList{"abcdefghijklmn"} << true << QStringList{"abcdefghij"} << 1;
    }

    void addingRooms()
    {
        QFETCH(QStringList, typed);
        QFETCH(bool, useEnter);
        QFETCH(QStringList, rows);
        QFETCH(int, saves);
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
        QTRY_COMPARE(m_server->receivedMessages().size(), saves);
        if (saves > 0)
            QCOMPARE(m_server->receivedMessages().last(), sent(rows));
        QCOMPARE(readFile(), saves > 0 ? list(rows).toUtf8() : QByteArray("<absent>"));
    }

    void removingRemovesEveryCopyAndItsRowLater()
    {
        writeFile("[\"a\",\"b\",\"a\"]");
        Settings window(m_client);
        QPushButton* removeA = nullptr;
        for (auto* button : window.findChildren<QPushButton*>()) {
            if (button->text() == QLatin1String("Supprimer") && !removeA)
                removeA = button;
        }
        QVERIFY(removeA);
        QSignalSpy destroyed(removeA, &QObject::destroyed);
        QTest::mouseClick(removeA, Qt::LeftButton);
        // The old rows go on the next pass of the event loop, not under the click.
        QCOMPARE(destroyed.size(), 0);
        QCOMPARE(rowTexts(window), QStringList{"b"});
        QCOMPARE(readFile(), QByteArray("[\"b\"]"));
        QTRY_COMPARE(destroyed.size(), 1);
        // Not listed: the list stays, yet it is saved and sent again.
        window.removeRoom(QStringLiteral("zz"));
        window.removeRoom(QStringLiteral("b"));
        QCOMPARE(readFile(), QByteArray("[]"));
        QTRY_COMPARE(m_server->receivedMessages(), (QStringList{sent({"b"}), sent({"b"}), sent({})}));
    }

    void saveReplacesTheFileWholeOrNotAtAll()
    {
        writeFile("[\"a\"]");
        const ino_t before = inode();
        Settings window(m_client);
        add(window, QStringLiteral("b"));
        // A new file renamed over the old one, never the old one cut and rewritten in place.
        QVERIFY(before != inode());
        QCOMPARE(readFile(), QByteArray("[\"a\",\"b\"]"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{"rooms.json"});

        // A save that cannot finish leaves the previous file whole.
        QFile::remove(RoomListFile::path());
        QVERIFY(QDir().mkpath(RoomListFile::path())); // the path is now a folder: no rename can land
        LogCapture log;
        window.removeRoom(QStringLiteral("a"));
        QVERIFY(QFileInfo(RoomListFile::path()).isDir());
        QCOMPARE(log.countStartingWith(QStringLiteral("Erreur d'ouverture :")), 1);
        QVERIFY(log.contains(QStringLiteral("Chemin tenté : \"%1\"").arg(RoomListFile::path())));
        // The list is still sent, and shown.
        QCOMPARE(rowTexts(window), QStringList{"b"});
        QTRY_COMPARE(m_server->receivedMessages(), (QStringList{sent({"a", "b"}), sent({"b"})}));
        // Nor is a folder that vanished made again by a save.
        QVERIFY(QDir(folder()).removeRecursively());
        add(window, QStringLiteral("r"));
        QCOMPARE(log.countStartingWith(QStringLiteral("Erreur d'ouverture :")), 2);
        QVERIFY(!QDir(folder()).exists());
        QTRY_COMPARE(m_server->receivedMessages().size(), 3);
        QCOMPARE(m_server->receivedMessages().last(), sent({"b", "r"}));
    }

    void inputHasTheFocusWhenOpened()
    {
        Settings window(m_client);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QApplication::focusWidget(), window.findChild<QLineEdit*>(QStringLiteral("textInput")));
    }

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
        const auto toggle = [&] { QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings")); };
        toggle();
        QCOMPARE(windows().size(), 1);
        toggle();
        QCOMPARE(log.lines(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^(Show|Hide) settings$"))),
                 (QStringList{"Show settings", "Hide settings"}));
        QTRY_COMPARE(windows().size(), 0);
        toggle();
        QCOMPARE(windows().size(), 1);
        // Closed by its own button: gone, and the next request opens a fresh one.
        windows().first()->close();
        QTRY_COMPARE(windows().size(), 0);
        toggle();
        QCOMPARE(windows().size(), 1);
        QCOMPARE(log.count(QStringLiteral("Show settings")), 3);
    }

private:
    static QString folder() { return QFileInfo(RoomListFile::path()).path(); }

    static void writeFile(const QByteArray& content)
    {
        QDir().mkpath(folder());
        QFile file(RoomListFile::path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    static QByteArray readFile(const QString& suffix = QString())
    {
        QFile file(RoomListFile::path() + suffix);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
    }

    static ino_t inode()
    {
        struct stat status = {};
        return stat(QFile::encodeName(RoomListFile::path()).constData(), &status) == 0 ? status.st_ino : 0;
    }

    static void add(Settings& window, const QString& room)
    {
        window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(room);
        window.addRoom();
    }

    static QStringList rowTexts(Settings& window)
    {
        QStringList texts;
        auto* rows = window.findChild<QVBoxLayout*>(QStringLiteral("verticalLayout"));
        for (int i = 0; i < rows->count(); ++i) {
            QLayout* row = rows->itemAt(i)->layout();
            if (row && row->count() == 2) {
                texts.append(qobject_cast<QLabel*>(row->itemAt(0)->widget())->text());
                if (qobject_cast<QPushButton*>(row->itemAt(1)->widget())->text() != QLatin1String("Supprimer"))
                    texts.append(QStringLiteral("<bad button>"));
            }
        }
        return texts;
    }

    // The file's form of a list: compact JSON.
    static QString list(const QStringList& rooms)
    {
        return rooms.isEmpty() ? QStringLiteral("[]")
                               : QStringLiteral("[\"%1\"]").arg(rooms.join(QStringLiteral("\",\"")));
    }

    static QString sent(const QStringList& rooms)
    {
        return QStringLiteral("{\"data\":{\"rooms\":%1},\"event\":\"room:changed\"}").arg(list(rooms));
    }

    TestWebSocketServer* m_server = nullptr;
    WebSocketClient* m_client = nullptr;
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
