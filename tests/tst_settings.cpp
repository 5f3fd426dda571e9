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
    void initTestCase();
    void init();
    void cleanup();
    void loadsWhatTheFileHolds_data();
    void loadsWhatTheFileHolds();
    void damagedFileIsKeptBesideBeforeTheFirstSave();
    void addingRooms_data();
    void addingRooms();
    void removingRemovesEveryCopy();
    void oldRowsGoOnTheNextPass();
    void saveReplacesTheFileWhole();
    void saveIntoVanishedDirectory();
    void inputHasTheFocusWhenOpened();
    void coordinatorTogglesTheWindow();

private:
    static void writeFile(const QByteArray& content);
    static QByteArray readFile(const QString& path);
    static QStringList rowTexts(Settings& window);
    static QString sent(const QStringList& rooms);

    TestWebSocketServer* m_server = nullptr;
    WebSocketClient* m_client = nullptr;
};

void TestSettings::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
}

void TestSettings::init()
{
    QDir(QFileInfo(RoomListFile::path()).path()).removeRecursively();
    m_server = new TestWebSocketServer(this);
    QVERIFY(m_server->listen());
    m_client = new WebSocketClient(m_server->url(), 100, this);
    QSignalSpy connected(m_client, &WebSocketClient::connected);
    QVERIFY(connected.wait(5000));
    m_server->clearReceived();
}

void TestSettings::cleanup()
{
    delete m_client;
    delete m_server;
}

void TestSettings::writeFile(const QByteArray& content)
{
    QDir().mkpath(QFileInfo(RoomListFile::path()).path());
    QFile file(RoomListFile::path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray TestSettings::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

QStringList TestSettings::rowTexts(Settings& window)
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

QString TestSettings::sent(const QStringList& rooms)
{
    QStringList quoted;
    for (const QString& room : rooms)
        quoted.append(QLatin1Char('"') + room + QLatin1Char('"'));
    return QStringLiteral("{\"data\":{\"rooms\":[%1]},\"event\":\"room:changed\"}").arg(quoted.join(QLatin1Char(',')));
}

void TestSettings::loadsWhatTheFileHolds_data()
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

void TestSettings::loadsWhatTheFileHolds()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, rows);
    QFETCH(int, logLines);
    if (!content.isEmpty())
        writeFile(content);
    LogCapture log;
    Settings window(m_client);
    QVERIFY(QDir(QFileInfo(RoomListFile::path()).path()).exists());
    QCOMPARE(rowTexts(window), rows);
    QCOMPARE(log.lines().size(), logLines);
    QCOMPARE(readFile(RoomListFile::path()), content.isEmpty() ? QByteArray("<absent>") : content);
}

void TestSettings::damagedFileIsKeptBesideBeforeTheFirstSave()
{
    const QByteArray damaged = "[\"salle1\", \"salle2\"";
    writeFile(damaged);
    LogCapture log;
    Settings window(m_client);
    window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(QStringLiteral("neuve"));
    window.addRoom();
    QCOMPARE(readFile(RoomListFile::path() + QStringLiteral(".bak")), damaged);
    QCOMPARE(readFile(RoomListFile::path()), QByteArray("[\"neuve\"]"));
    QCOMPARE(log.countStartingWith(QStringLiteral("Liste des groupes illisible, conservée dans")), 1);
    // Only the first save keeps a copy: the backup is of the damaged file, not of ours.
    window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(QStringLiteral("autre"));
    window.addRoom();
    QCOMPARE(readFile(RoomListFile::path() + QStringLiteral(".bak")), damaged);
}

void TestSettings::addingRooms_data()
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
    QTest::newRow("ten characters at most") << QStringList{"abcdefghijklmn"} << true << QStringList{"abcdefghij"} << 1;
}

void TestSettings::addingRooms()
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
    if (saves > 0) {
        QCOMPARE(m_server->receivedMessages().last(), sent(rows));
        QCOMPARE(QString::fromUtf8(readFile(RoomListFile::path())),
                 sent(rows).section(QStringLiteral("\"rooms\":"), 1).section(QLatin1Char('}'), 0, 0));
    } else {
        QCOMPARE(readFile(RoomListFile::path()), QByteArray("<absent>"));
    }
}

void TestSettings::removingRemovesEveryCopy()
{
    writeFile("[\"a\",\"b\",\"a\"]");
    Settings window(m_client);
    window.removeRoom(QStringLiteral("a"));
    QCOMPARE(rowTexts(window), QStringList{"b"});
    QCOMPARE(readFile(RoomListFile::path()), QByteArray("[\"b\"]"));
    // Not listed: the list stays, yet it is saved and sent again.
    window.removeRoom(QStringLiteral("zz"));
    window.removeRoom(QStringLiteral("b"));
    QCOMPARE(readFile(RoomListFile::path()), QByteArray("[]"));
    QTRY_COMPARE(m_server->receivedMessages(), (QStringList{sent({"b"}), sent({"b"}), sent({})}));
}

void TestSettings::oldRowsGoOnTheNextPass()
{
    writeFile("[\"a\",\"b\"]");
    Settings window(m_client);
    QPushButton* removeA = nullptr;
    for (auto* button : window.findChildren<QPushButton*>()) {
        if (button->text() == QLatin1String("Supprimer") && !removeA)
            removeA = button;
    }
    QVERIFY(removeA);
    QSignalSpy destroyed(removeA, &QObject::destroyed);
    QTest::mouseClick(removeA, Qt::LeftButton);
    QCOMPARE(destroyed.size(), 0);
    QCOMPARE(rowTexts(window), QStringList{"b"});
    QTRY_COMPARE(destroyed.size(), 1);
}

void TestSettings::saveReplacesTheFileWhole()
{
    writeFile("[\"a\"]");
    struct stat before = {};
    QCOMPARE(stat(QFile::encodeName(RoomListFile::path()).constData(), &before), 0);
    Settings window(m_client);
    window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(QStringLiteral("b"));
    window.addRoom();
    struct stat after = {};
    QCOMPARE(stat(QFile::encodeName(RoomListFile::path()).constData(), &after), 0);
    // A new file renamed over the old one, never the old one cut and rewritten in place.
    QVERIFY(before.st_ino != after.st_ino);
    QCOMPARE(readFile(RoomListFile::path()), QByteArray("[\"a\",\"b\"]"));
    QCOMPARE(QDir(QFileInfo(RoomListFile::path()).path()).entryList(QDir::Files), QStringList{"rooms.json"});

    // A save that cannot finish leaves the previous file whole.
    QFile::remove(RoomListFile::path());
    QVERIFY(QDir().mkpath(RoomListFile::path())); // the path is now a folder: no rename can land
    LogCapture log;
    window.removeRoom(QStringLiteral("a"));
    QVERIFY(QFileInfo(RoomListFile::path()).isDir());
    QCOMPARE(log.countStartingWith(QStringLiteral("Erreur d'ouverture :")), 1);
    QDir(RoomListFile::path()).removeRecursively();
}

void TestSettings::saveIntoVanishedDirectory()
{
    Settings window(m_client);
    QVERIFY(QDir(QFileInfo(RoomListFile::path()).path()).removeRecursively());
    LogCapture log;
    window.findChild<QLineEdit*>(QStringLiteral("textInput"))->setText(QStringLiteral("r"));
    window.addRoom();
    QCOMPARE(log.countStartingWith(QStringLiteral("Erreur d'ouverture :")), 1);
    QVERIFY(log.contains(QStringLiteral("Chemin tenté : \"%1\"").arg(RoomListFile::path())));
    QCOMPARE(rowTexts(window), QStringList{"r"});
    QTRY_COMPARE(m_server->receivedMessages(), QStringList{sent({"r"})});
}

void TestSettings::inputHasTheFocusWhenOpened()
{
    Settings window(m_client);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.findChild<QLineEdit*>(QStringLiteral("textInput")));
    QCOMPARE(window.windowTitle(), QStringLiteral("Glim-deck"));
    QCOMPARE(window.size(), QSize(500, 500));
}

void TestSettings::coordinatorTogglesTheWindow()
{
    LogCapture log;
    GlimDeck glimDeck;
    const auto settingsWindows = [] {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            count += qobject_cast<Settings*>(widget) ? 1 : 0;
        return count;
    };
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
    QCOMPARE(settingsWindows(), 1);
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
    QCOMPARE(log.lines(QtDebugMsg).filter(QRegularExpression(QStringLiteral("^(Show|Hide) settings$"))),
             (QStringList{"Show settings", "Hide settings"}));
    QTRY_COMPARE(settingsWindows(), 0);
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
    QCOMPARE(settingsWindows(), 1);
    // Closed by its own button: gone, and the next request opens a fresh one.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<Settings*>(widget))
            widget->close();
    }
    QTRY_COMPARE(settingsWindows(), 0);
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "displaySettings"));
    QCOMPARE(settingsWindows(), 1);
    QCOMPARE(log.count(QStringLiteral("Show settings")), 3);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
