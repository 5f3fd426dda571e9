#include "glimdeck.h"
#include "logcapture.h"
#include "net/endpoints.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "tray/autostartentry.h"
#include "tray/traymanager.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// The real tray icon in a real notification area (Xvfb with trayer), and the inert state
// where there is none.
class TestTrayManager : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase();
    void init();
    void menuEntriesInOrder();
    void connectionStateShows();
    void activation_data();
    void activation();
    void speechAndUploadPage();
    void counter_data();
    void counter();
    void counterRepliesOutOfOrder();
    void autostartEntry();
    void autostartFailureDoesNotLoop();
    void runValue_data();
    void runValue();
    void speechEntryReachesNextSession_data();
    void speechEntryReachesNextSession();

private:
    static QList<QAction*> entries(TrayManager& tray);
    static QAction* entry(TrayManager& tray, const QString& text);

    QTemporaryDir m_config;
    QList<QUrl> m_opened;
    TestHttpsServer m_server;
};

void TestTrayManager::initTestCase()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("needs a notification area (the test script runs trayer under Xvfb)");
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
    QVERIFY(m_server.listen());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
}

void TestTrayManager::init()
{
    QDir(m_config.filePath(QStringLiteral("autostart"))).removeRecursively();
    QFile::remove(m_config.filePath(QStringLiteral("autostart")));
}

QList<QAction*> TestTrayManager::entries(TrayManager& tray)
{
    return tray.findChild<QSystemTrayIcon*>()->contextMenu()->actions();
}

QAction* TestTrayManager::entry(TrayManager& tray, const QString& text)
{
    for (QAction* action : entries(tray)) {
        if (action->text().startsWith(text))
            return action;
    }
    return nullptr;
}

void TestTrayManager::menuEntriesInOrder()
{
    TrayManager tray(false, nullptr);
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    QVERIFY(icon && icon->isVisible());
    QVERIFY(!icon->icon().isNull());
    QCOMPARE(icon->toolTip(), QString());
    QStringList texts;
    for (QAction* action : entries(tray))
        texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
    QCOMPARE(texts, (QStringList{"Envoyer des images", "Lancer au démarrage", "TextToSpeech", "--",
                                 "Clients connectés : —", "--", "Quitter"}));
    QVERIFY(entry(tray, QStringLiteral("Lancer"))->isCheckable());
    QVERIFY(!entry(tray, QStringLiteral("Lancer"))->isChecked());
    QVERIFY(entry(tray, QStringLiteral("TextToSpeech"))->isCheckable());
    QVERIFY(!entry(tray, QStringLiteral("Clients"))->isEnabled());
}

void TestTrayManager::connectionStateShows()
{
    TrayManager tray(false, nullptr);
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    const QImage green = QIcon(QStringLiteral(":/icons/data/icons/icon.png")).pixmap(22).toImage();
    const QImage red = QIcon(QStringLiteral(":/icons/data/icons/icon-red.png")).pixmap(22).toImage();
    QVERIFY(!green.isNull() && green != red);
    QCOMPARE(QImage(QStringLiteral(":/icons/data/icons/icon.png")).size(), QSize(22, 22));
    for (int i = 0; i < 2; ++i) {
        tray.setConnected(false);
        QCOMPARE(icon->toolTip(), QStringLiteral("GlimDeck — déconnecté"));
        QCOMPARE(icon->icon().pixmap(22).toImage(), red);
    }
    tray.setConnected(true);
    QCOMPARE(icon->toolTip(), QStringLiteral("GlimDeck — connecté"));
    QCOMPARE(icon->icon().pixmap(22).toImage(), green);
}

void TestTrayManager::activation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("requests");
    QTest::newRow("click") << QSystemTrayIcon::Trigger << 1;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << 1;
    QTest::newRow("context") << QSystemTrayIcon::Context << 0;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << 0;
    QTest::newRow("unknown") << QSystemTrayIcon::Unknown << 0;
}

void TestTrayManager::activation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(int, requests);
    TrayManager tray(false, nullptr);
    QSignalSpy displaySpy(&tray, &TrayManager::displayWindow);
    emit tray.findChild<QSystemTrayIcon*>()->activated(reason);
    QCOMPARE(displaySpy.size(), requests);
}

void TestTrayManager::speechAndUploadPage()
{
    TrayManager tray(false, nullptr);
    QSignalSpy ttsSpy(&tray, &TrayManager::ttsStatusChanged);
    LogCapture log;
    entry(tray, QStringLiteral("TextToSpeech"))->trigger();
    QCOMPARE(ttsSpy.size(), 1);
    QCOMPARE(ttsSpy.at(0).at(0).toBool(), true);
    QVERIFY(log.contains(QStringLiteral("TTS Enabled: true")));
    entry(tray, QStringLiteral("TextToSpeech"))->trigger();
    QCOMPARE(ttsSpy.last().at(0).toBool(), false);

    m_opened.clear();
    entry(tray, QStringLiteral("Envoyer"))->trigger();
    QCOMPARE(m_opened, QList<QUrl>{QUrl(HTTPS_BASE_URL)});
}

void TestTrayManager::counter_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("warning");
    const QString unparsed = QStringLiteral("Could not parse client count response from");
    const QString failed = QStringLiteral("Client count request failed:");
    QTest::newRow("42") << 200 << QByteArray("42") << "Clients connectés : 42" << QString();
    QTest::newRow("spaces around") << 200 << QByteArray(" 42\n") << "Clients connectés : 42" << QString();
    QTest::newRow("plus sign") << 200 << QByteArray("+7") << "Clients connectés : 7" << QString();
    QTest::newRow("leading zeros") << 200 << QByteArray("007") << "Clients connectés : 7" << QString();
    QTest::newRow("negative") << 200 << QByteArray("-1") << "Clients connectés : -1" << QString();
    QTest::newRow("empty") << 200 << QByteArray("") << "Clients connectés : ?" << unparsed;
    QTest::newRow("fraction") << 200 << QByteArray("3.5") << "Clients connectés : ?" << unparsed;
    QTest::newRow("with a word") << 200 << QByteArray("42 users") << "Clients connectés : ?" << unparsed;
    QTest::newRow("JSON") << 200 << QByteArray("{}") << "Clients connectés : ?" << unparsed;
    QTest::newRow("past 32 bits") << 200 << QByteArray("2147483648") << "Clients connectés : ?" << unparsed;
    QTest::newRow("HTTP error") << 500 << QByteArray("oops") << "Clients connectés : ? (erreur)" << failed;
    QTest::newRow("no server") << 0 << QByteArray() << "Clients connectés : ? (erreur)" << failed;
}

void TestTrayManager::counter()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(QString, warning);
    QString url = m_server.url(QStringLiteral("/users")).toString();
    if (status == 0) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        url = QStringLiteral("https://localhost:%1/users").arg(probe.serverPort());
    } else {
        m_server.setResponse(QStringLiteral("/users"), status, body);
    }
    LogCapture log;
    TrayManager tray(false, url, nullptr);
    QAction* count = entry(tray, QStringLiteral("Clients"));
    emit tray.findChild<QSystemTrayIcon*>()->contextMenu()->aboutToShow();
    QCOMPARE(count->text(), QStringLiteral("Clients connectés : …"));
    QTRY_VERIFY_WITH_TIMEOUT(count->text() != QStringLiteral("Clients connectés : …"), 10000);
    QCOMPARE(count->text(), text);
    QCOMPARE(log.countStartingWith(warning.isEmpty() ? QStringLiteral("<none>") : warning), warning.isEmpty() ? 0 : 1);
    if (warning.startsWith(QLatin1String("Could")))
        QVERIFY(log.contains(QStringLiteral("%1 \"%2\" data: \"%3\"").arg(warning, url, QString::fromUtf8(body))));
}

void TestTrayManager::counterRepliesOutOfOrder()
{
    TestHttpsServer::Response slow;
    slow.body = "1";
    slow.delayMs = 600;
    m_server.setResponse(QStringLiteral("/slow"), slow);
    TrayManager tray(false, m_server.url(QStringLiteral("/slow")).toString(), nullptr);
    QMenu* menu = tray.findChild<QSystemTrayIcon*>()->contextMenu();
    emit menu->aboutToShow();
    QTest::qWait(100);
    m_server.setResponse(QStringLiteral("/slow"), 200, "2");
    emit menu->aboutToShow();
    QAction* count = entry(tray, QStringLiteral("Clients"));
    QTRY_COMPARE(count->text(), QStringLiteral("Clients connectés : 2"));
    // The first request's reply comes last and has the last word.
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("Clients connectés : 1"), 5000);
    QCOMPARE(m_server.requestedPaths().count(QStringLiteral("/slow")), 2);
}

void TestTrayManager::autostartEntry()
{
    const QString path = AutostartEntry::desktopEntryPath(QCoreApplication::applicationFilePath());
    QCOMPARE(path, m_config.filePath(QStringLiteral("autostart/tst_traymanager.desktop")));
    {
        TrayManager tray(false, nullptr);
        QVERIFY(!QFile::exists(path));
        entry(tray, QStringLiteral("Lancer"))->trigger();
        QVERIFY(QFile::exists(path));
        entry(tray, QStringLiteral("Lancer"))->trigger();
        QVERIFY(!QFile::exists(path));
    }
    // An entry left by a copy elsewhere: checked at start and pointed at this executable.
    QDir().mkpath(QFileInfo(path).path());
    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("[Desktop Entry]\nType=Application\nExec=/old/place/tst_traymanager\n");
    stale.close();
    TrayManager tray(false, nullptr);
    QVERIFY(entry(tray, QStringLiteral("Lancer"))->isChecked());
    QFile rewritten(path);
    QVERIFY(rewritten.open(QIODevice::ReadOnly));
    QVERIFY(rewritten.readAll().contains(
        "\nExec=" + AutostartEntry::desktopExec(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
}

void TestTrayManager::autostartFailureDoesNotLoop()
{
    // A plain file where the folder should be: no entry can be written.
    QFile blocker(m_config.filePath(QStringLiteral("autostart")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    LogCapture log;
    TrayManager tray(false, nullptr);
    entry(tray, QStringLiteral("Lancer"))->trigger();
    QVERIFY(!entry(tray, QStringLiteral("Lancer"))->isChecked());
    QCOMPARE(log.count(QStringLiteral("Failed to enable autostart")), 1);
    QVERIFY(log.count(QStringLiteral("Failed to disable autostart")) <= 1);
}

void TestTrayManager::runValue_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "C:/Apps/glimdeck.exe"
                           << "glimdeck"
                           << "C:\\Apps\\glimdeck.exe"
                           << "C:/Apps/glimdeck.exe";
    QTest::newRow("spaces") << "C:/Program Files/Glim deck/glimdeck.exe"
                            << "glimdeck"
                            << "\"C:\\Program Files\\Glim deck\\glimdeck.exe\""
                            << "\"C:/Program Files/Glim deck/glimdeck.exe\"";
    QTest::newRow("several dots") << "/opt/my.app.exe"
                                  << "my"
                                  << "\\opt\\my.app.exe"
                                  << "/opt/my.app.exe";
}

void TestTrayManager::runValue()
{
    QFETCH(QString, executable);
    QFETCH(QString, name);
    QFETCH(QString, data);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::runValueName(executable), name);
    QCOMPARE(AutostartEntry::runValueData(executable), data);
    QCOMPARE(AutostartEntry::desktopExec(executable), exec);
}

void TestTrayManager::speechEntryReachesNextSession_data()
{
    QTest::addColumn<int>("toggles");
    QTest::addColumn<int>("engines");
    QTest::newRow("left off") << 0 << 0;
    QTest::newRow("switched on") << 1 << 1;
    QTest::newRow("on then off") << 2 << 0;
}

// The coordinator's own tray: its speech entry decides whether the next photo speaks.
void TestTrayManager::speechEntryReachesNextSession()
{
    QFETCH(int, toggles);
    QFETCH(int, engines);
    TestHttpsServer::Response never;
    never.never = true;
    m_server.setResponse(QStringLiteral("/photo"), never); // the session lives until an engine is lent
    LogCapture log;
    GlimDeck glimDeck;
    auto* tray = glimDeck.findChild<TrayManager*>();
    QVERIFY(tray);
    for (int i = 0; i < toggles; ++i)
        entry(*tray, QStringLiteral("TextToSpeech"))->trigger();
    const int requests = int(m_server.requestedPaths().size());
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck",
                                      Q_ARG(QString, m_server.url(QStringLiteral("/photo")).toString()),
                                      Q_ARG(QString, QStringLiteral("Bonjour"))));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestedPaths().size(), requests + 1, 10000);
    // Engines are built once speech was switched on; a session that borrows one says so soon after.
    if (toggles > 0)
        QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Moteur de synthèse vocale prêt")) > 0, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), engines, 5000);
    QTest::qWait(300);
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), engines);
}

QTEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
