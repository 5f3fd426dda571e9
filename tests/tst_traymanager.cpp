#include "core/filedownloader.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/systemproxy.h"
#include "net/websocketclient.h"
#include "testsupport.h"
#include "tray/autostartentry.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

// The real tray icon in a real notification area (Xvfb with trayer).
class TestTrayManager : public QObject
{
    Q_OBJECT

    enum Entry { SEND, LAUNCH, SPEECH, CLIENTS = 4 }; // places in the menu, which the first test checks
    static QMenu* menu(TrayManager& tray) { return tray.findChild<QSystemTrayIcon*>()->contextMenu(); }
    static QString clients(TrayManager& tray) { return menu(tray)->actions().at(CLIENTS)->text(); }

public:
    // A doubled screen, where the tray shows the pictures drawn at 44 x 44.
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); }

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "needs a notification area: trayer under Xvfb");
        QVERIFY(TestCertificates::trustInProcess() && m_server.listen());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }

    // Its entries, its look in both connection states, and a count whose replies come back out of order.
    void menuAndConnectionState()
    {
        m_server.setResponse(u"/slow"_s, 200, "1", 600);
        TrayManager tray(false, m_server.url(u"/slow"_s).toString(), nullptr);
        QSystemTrayIcon* icon = tray.findChild<QSystemTrayIcon*>();
        QVERIFY(icon->isVisible() && icon->toolTip().isEmpty());
        QStringList entries; // each followed by whether it is checkable, then enabled
        for (QAction* action : menu(tray)->actions())
            entries << (action->isSeparator() ? u"--"_s : action->text())
                           + u" %1%2"_s.arg(int(action->isCheckable())).arg(int(action->isEnabled()));
        QCOMPARE(entries, (QStringList{"Envoyer des images 01", "Lancer au démarrage 11", "TextToSpeech 11", "-- 01",
                                       "Clients connectés : — 00", "-- 01", "Quitter 01"}));
        // Drawn for this doubled screen, in both states; a second disconnection changes nothing.
        const auto shows = [icon](const QString& name) {
            const QImage drawn(u":/icons/data/icons/%1@2x.png"_s.arg(name));
            return icon->icon().pixmap(QSize(22, 22), 2.0).toImage()
                   == drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        QVERIFY(shows(u"icon"_s));
        for (bool connected : {false, false, true}) {
            tray.setConnected(connected);
            QCOMPARE(icon->toolTip(), connected ? u"GlimDeck — connecté"_s : u"GlimDeck — déconnecté"_s);
            QVERIFY(shows(connected ? u"icon"_s : u"icon-red"_s));
        }
        menu(tray)->actions().at(SEND)->trigger();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(HTTPS_BASE_URL)});
        // A click or a double click asks for the window; the others do not.
        QSignalSpy displaySpy(&tray, &TrayManager::displayWindow);
        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
            emit icon->activated(reason);
        QCOMPARE(displaySpy.size(), 0);
        emit icon->activated(QSystemTrayIcon::Trigger);
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(displaySpy.size(), 2);
        // Asked twice, the first reply comes last and has the last word.
        emit menu(tray)->aboutToShow();
        QTRY_COMPARE(m_server.requestedPaths().count(u"/slow"_s), 1);
        m_server.setResponse(u"/slow"_s, 200, "2");
        emit menu(tray)->aboutToShow();
        QTRY_COMPARE(clients(tray), u"Clients connectés : 2"_s);
        QTRY_COMPARE(clients(tray), u"Clients connectés : 1"_s);
    }

    void counter_data()
    {
        QTest::addColumn<int>("status"); // 0: no server
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("shown"); // "?": not a count, "? (erreur)": request failed; both logged
        QTest::newRow("42") << 200 << u"42"_s << u"42"_s;
        QTest::newRow("spaces around") << 200 << u" 42\n"_s << u"42"_s;
        QTest::newRow("plus sign") << 200 << u"+7"_s << u"7"_s;
        QTest::newRow("leading zeros") << 200 << u"007"_s << u"7"_s;
        QTest::newRow("negative") << 200 << u"-1"_s << u"-1"_s;
        QTest::newRow("empty") << 200 << u""_s << u"?"_s;
        QTest::newRow("fraction") << 200 << u"3.5"_s << u"?"_s;
        QTest::newRow("with a word") << 200 << u"42 users"_s << u"?"_s;
        QTest::newRow("JSON") << 200 << u"{}"_s << u"?"_s;
        QTest::newRow("past 32 bits") << 200 << u"2147483648"_s << u"?"_s;
        QTest::newRow("HTTP error") << 500 << u"oops"_s << u"? (erreur)"_s;
        QTest::newRow("no server") << 0 << u""_s << u"? (erreur)"_s;
    }

    void counter()
    {
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, shown);
        m_server.setResponse(u"/users"_s, status, body.toUtf8());
        const QUrl url = status ? m_server.url(u"/users"_s) : TestSupport::refusedUrl(u"https"_s, u"/users"_s);
        LogCapture log;
        TrayManager tray(false, url.toString(), nullptr);
        emit menu(tray)->aboutToShow();
        QCOMPARE(clients(tray), u"Clients connectés : …"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(tray), u"Clients connectés : "_s + shown, 10000);
        const QString unparsed =
            u"Could not parse client count response from \"%1\" data: \"%2\""_s.arg(url.toString(), body);
        QCOMPARE(log.lines(QtWarningMsg).replaceInStrings(QRegularExpression(u"(?<=failed:) .*"_s), QString()),
                 QStringList(shown.startsWith(u'?'), shown == u"?"_s ? unparsed : u"Client count request failed:"_s));
    }

    void proxyChoice_data()
    {
        QTest::addColumn<QStringList>("row"); // https_proxy, HTTPS_PROXY, no_proxy, and the address asked for
        QTest::addColumn<bool>("proxied");
        const QString proxy = u"http://proxy.example:3128"_s, photos = u"https://photos.example"_s;
        QTest::newRow("https_proxy") << QStringList{proxy, "", "", photos} << true;
        QTest::newRow("HTTPS_PROXY") << QStringList{"", proxy, "", photos} << true;
        QTest::newRow("no scheme") << QStringList{"proxy.example:3128", "", "", photos} << true;
        QTest::newRow("WebSocket tagged wss") << QStringList{proxy, "", "", "wss://photos.example"} << true;
        QTest::newRow("no_proxy: the host") << QStringList{proxy, "", "a.org, .photos.example", photos} << false;
        QTest::newRow("no_proxy: its domain") << QStringList{proxy, "", "example", photos} << false;
        QTest::newRow("no_proxy: longer name") << QStringList{proxy, "", "hotos.example", photos} << true;
        QTest::newRow("no_proxy: subnet") << QStringList{proxy, "", "10.0.0.0/8", "https://10.1.2.3"} << false;
        QTest::newRow("no_proxy: *") << QStringList{proxy, "", "*", photos} << false;
        QTest::newRow("none named") << QStringList{"", "", "", photos} << false;
    }

    void proxyChoice()
    {
        QFETCH(QStringList, row);
        QFETCH(bool, proxied);
        qputenv("https_proxy", row[0].toUtf8());
        qputenv("HTTPS_PROXY", row[1].toUtf8());
        qputenv("no_proxy", row[2].toUtf8());
        // Asked as the WebSocket asks: a TCP socket with its scheme as tag.
        const QUrl asked(row[3]);
        QCOMPARE(SystemProxy().queryProxy(
                     QNetworkProxyQuery(asked.host(), 443, asked.scheme(), QNetworkProxyQuery::TcpSocket)),
                 QList<QNetworkProxy>{proxied ? QNetworkProxy(QNetworkProxy::HttpProxy, u"proxy.example"_s, 3128)
                                              : QNetworkProxy(QNetworkProxy::NoProxy)});
    }

    void everythingGoesThroughTheNamedProxy()
    {
        SilentProxy proxy;
        TestWebSocketServer webSocketServer;
        QVERIFY(proxy.listen() && webSocketServer.listen());
        m_server.setResponse(u"/photo.png"_s, 200, "picture");
        m_server.setResponse(u"/users"_s, 200, "42");
        qputenv("https_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
        SystemProxy::install();
        const auto restore = qScopeGuard([] { QNetworkProxyFactory::setApplicationProxyFactory(nullptr); });
        // Qt never proxies a loopback name: the servers go by a name that only the proxy resolves.
        const QString ws = u"glimdeck.test:%1"_s.arg(webSocketServer.port());
        const QString https = u"glimdeck.test:%1"_s.arg(m_server.port());
        WebSocketClient client(QUrl(u"wss://"_s + ws), nullptr);
        QVERIFY(QSignalSpy(&client, &WebSocketClient::connected).wait(5000));
        FileDownloader picture(QUrl(u"https://%1/photo.png"_s.arg(https)), nullptr);
        QVERIFY(QSignalSpy(&picture, &FileDownloader::downloaded).wait(5000));
        QCOMPARE(picture.downloadedData(), QByteArray("picture"));
        TrayManager tray(false, u"https://%1/users"_s.arg(https), nullptr);
        emit menu(tray)->aboutToShow();
        QTRY_COMPARE(clients(tray), u"Clients connectés : 42"_s);
        QCOMPARE(proxy.tunnels(), (QStringList{ws, https, https}));
    }

    void autostart_data()
    {
        QTest::addColumn<QString>("before");    // a file already there, under the configuration folder
        QTest::addColumn<QList<bool>>("marks"); // at start, then after each of two clicks
        QTest::addColumn<int>("failures");
        QTest::newRow("nothing") << u""_s << QList<bool>{false, true, false} << 0;
        QTest::newRow("entry left by a copy elsewhere")
            << u"autostart/tst_traymanager.desktop"_s << QList<bool>{true, false, true} << 0;
        QTest::newRow("a file where the folder goes") << u"autostart"_s << QList<bool>{false, false, false} << 2;
    }

    // The mark shows whether an entry that starts this very executable is in place, whatever happens.
    void autostart()
    {
        QFETCH(QString, before);
        QFETCH(QList<bool>, marks);
        QFETCH(int, failures);
        QDir(m_config.filePath(u"autostart"_s)).removeRecursively();
        QFile::remove(m_config.filePath(u"autostart"_s));
        const QByteArray old = "[Desktop Entry]\nType=Application\nExec=/old/place/tst_traymanager\n";
        QVERIFY(before.isEmpty() || TestSupport::writeFile(m_config.filePath(before), old));
        LogCapture log;
        TrayManager tray(false, nullptr);
        QAction* launch = menu(tray)->actions().at(LAUNCH);
        const QString path = m_config.filePath(u"autostart/tst_traymanager.desktop"_s);
        const QString exec = AutostartEntry::desktopExec(QCoreApplication::applicationFilePath());
        for (int i = 0; i < marks.size(); ++i) {
            if (i > 0)
                launch->trigger();
            QCOMPARE(launch->isChecked(), marks.at(i));
            QCOMPARE(TestSupport::readFile(path).contains(("\nExec=" + exec + "\n").toUtf8()), marks.at(i));
        }
        QCOMPARE(log.lines(QtWarningMsg), QStringList(failures, u"Failed to enable autostart"_s));
    }

    // The Windows run value: named up to the first dot, backslashes, and quoted when spaced, as Exec is.
    void runValue()
    {
        QCOMPARE(AutostartEntry::runValueName(u"/opt/my.app.exe"_s), u"my"_s);
        QCOMPARE(AutostartEntry::desktopExec(u"/opt/my.app.exe"_s), u"/opt/my.app.exe"_s);
        QCOMPARE(AutostartEntry::runValueData(u"C:/Apps/glimdeck.exe"_s), u"C:\\Apps\\glimdeck.exe"_s);
        const QString spaced = u"C:/Program Files/Glim deck/glimdeck.exe"_s;
        QCOMPARE(AutostartEntry::runValueData(spaced), u"\"C:\\Program Files\\Glim deck\\glimdeck.exe\""_s);
        QCOMPARE(AutostartEntry::desktopExec(spaced), u"\"C:/Program Files/Glim deck/glimdeck.exe\""_s);
    }

    void speechEntryReachesNextSession_data()
    {
        QTest::addColumn<int>("toggles"); // of the speech entry while the fourth photo waits
        QTest::newRow("left off") << 0;
        QTest::newRow("switched on") << 1;
        QTest::newRow("on then off") << 2;
    }

    // The coordinator's own tray: its speech entry decides whether the sessions started after the switch speak
    // (here the fourth, which waits for a place). Switched on afterwards, it builds engines all the same: a voice
    // set up for a session that should stay silent would show once they are all built.
    void speechEntryReachesNextSession()
    {
        QFETCH(int, toggles);
        m_server.setResponse(u"/4"_s, {200, {}, {}, 0, true}); // never answered: its session lives on
        LogCapture log;
        GlimDeck glimDeck;
        QAction* speech = menu(*glimDeck.findChild<TrayManager*>())->actions().at(SPEECH);
        const qsizetype fourths = m_server.requestedPaths().count(u"/4"_s);
        for (const char* path : {"/1", "/2", "/3", "/4"}) { // the first three are not found
            const QString url = m_server.url(QString::fromLatin1(path)).toString();
            QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, url),
                                              Q_ARG(QString, u"Bonjour"_s)));
        }
        for (int i = 0; i < toggles; ++i)
            speech->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestedPaths().count(u"/4"_s) > fourths, 10000);
        if (!speech->isChecked())
            speech->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!log.lines().filter(QRegularExpression(u"prêt : (\\d+) sur \\1$"_s)).isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2, 10000);
        QTest::qWait(500);
        QCOMPARE(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2);
        QCOMPARE(log.count(u"TTS Enabled: true"_s), toggles / 2 + 1);
    }

private:
    QTemporaryDir m_config;
    QList<QUrl> m_opened;
    TestHttpsServer m_server;
};

QTEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
