// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/pause.h"
#include "core/recentphotos.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/systemproxy.h"
#include "net/websocketclient.h"
#include "testsupport.h"
#include "tray/autostartentry.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

class TestTrayManager : public QObject
{
    Q_OBJECT

    enum Entry { SEND, LAUNCH, SPEECH, CLIENTS = 4, RECENT = 6, PAUSE }; // places in the menu, which tests check
    static QMenu* menu(TrayManager& tray) { return tray.findChild<QSystemTrayIcon*>()->contextMenu(); }
    static QString clients(TrayManager& tray) { return menu(tray)->actions().at(CLIENTS)->text(); }
    static QStringList texts(QMenu* menu) // the visible entries
    {
        QStringList shown;
        for (QAction* action : menu->actions())
            shown << (action->isVisible() ? QStringList{action->text()} : QStringList());
        return shown;
    }
    static QString tip(TrayManager& tray) { return tray.findChild<QSystemTrayIcon*>()->toolTip(); }
    static QImage iconImage(TrayManager& tray)
    {
        return tray.findChild<QSystemTrayIcon*>()->icon().pixmap(22).toImage();
    }
    // The time of day, set from the test; it runs on from there.
    qint64 m_offsetMs = 0;
    QDateTime now() const { return QDateTime::currentDateTime().addMSecs(m_offsetMs); }
    void setNow(const QDateTime& time) { m_offsetMs = QDateTime::currentDateTime().msecsTo(time); }

public:
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); } // a doubled screen: the tray shows the @2x drawings
    Q_INVOKABLE void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        SKIP_WITHOUT_TLS_SERVER();
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "needs a notification area: trayer under Xvfb");
        QVERIFY(TestCertificates::trustInProcess() && m_server.listen());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"https"_s); }

    void menuAndConnectionState()
    {
        m_server.setResponse(u"/slow"_s, 200, "1", 600);
        TrayManager tray(false, m_server.url(u"/slow"_s).toString(), nullptr);
        QSystemTrayIcon* icon = tray.findChild<QSystemTrayIcon*>();
        const auto shows = [icon](const QString& name) { // drawn for this doubled screen
            const QImage png(u":/icons/data/icons/%1@2x.png"_s.arg(name));
            return icon->icon().pixmap(22).toImage() == png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        QVERIFY(icon->isVisible() && icon->toolTip().isEmpty() && shows(u"icon"_s));
        for (bool connected : {false, false, true}) { // a second disconnection changes nothing
            tray.setConnected(connected);
            QCOMPARE(icon->toolTip(), connected ? u"GlimDeck — connecté"_s : u"GlimDeck — déconnecté"_s);
            QVERIFY(shows(connected ? u"icon"_s : u"icon-red"_s));
        }
        QStringList entries; // each followed by whether it is checkable, then enabled
        for (QAction* action : menu(tray)->actions())
            entries << (action->isSeparator() ? u"--"_s : action->text())
                           + u" %1%2"_s.arg(int(action->isCheckable())).arg(int(action->isEnabled()));
        QCOMPARE(entries, (QStringList{"Envoyer des images 01", "Lancer au démarrage 11", "TextToSpeech 11", "-- 01",
                                       "Clients connectés : — 00", "-- 01", "Quitter 01"}));
        menu(tray)->actions().at(SEND)->trigger();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(HTTPS_BASE_URL)});
        QSignalSpy displaySpy(&tray, &TrayManager::displayWindow); // asked for by a click or a double click only
        for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
            emit icon->activated(reason);
        QCOMPARE(displaySpy.size(), 0);
        emit icon->activated(QSystemTrayIcon::Trigger);
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(displaySpy.size(), 2);
        emit menu(tray)->aboutToShow(); // asked twice: the first reply comes last and has the last word
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
        QTest::newRow("past its bound") << 200 << QString(5000, u'1') << u"? (erreur)"_s;
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
        if (status)
            QCOMPARE(m_server.authorizations().last(), TestSupport::expectedAuthorization());
        const QString unread =
            u"Could not parse client count response from \"%1\" data: \"%2\""_s.arg(url.toString(), body);
        QCOMPARE(log.lines(QtWarningMsg).replaceInStrings(QRegularExpression(u"(?<=failed:) .*"_s), QString()),
                 QStringList(shown.startsWith(u'?'), shown == u"?"_s ? unread : u"Client count request failed:"_s));
    }

    void proxyChoice_data()
    {
        QTest::addColumn<QStringList>("row"); // https_proxy, HTTPS_PROXY, no_proxy, what a TCP socket asks for, the way
        const QString proxy = u"http://proxy.example:3128"_s, photos = u"https://photos.example"_s;
        QTest::newRow("https_proxy") << QStringList{proxy, "", "", photos, "proxy"};
        QTest::newRow("HTTPS_PROXY") << QStringList{"", proxy, "", photos, "proxy"};
        QTest::newRow("no scheme") << QStringList{"proxy.example:3128", "", "", photos, "proxy"};
        QTest::newRow("WebSocket tagged wss") << QStringList{proxy, "", "", "wss://photos.example", "proxy"};
        QTest::newRow("no_proxy: the host") << QStringList{proxy, "", "a.org, .photos.example", photos, "direct"};
        QTest::newRow("no_proxy: its domain") << QStringList{proxy, "", "example", photos, "direct"};
        QTest::newRow("no_proxy: longer name") << QStringList{proxy, "", "hotos.example", photos, "proxy"};
        QTest::newRow("no_proxy: subnet") << QStringList{proxy, "", "10.0.0.0/8", "https://10.1.2.3", "direct"};
        QTest::newRow("no_proxy: *") << QStringList{proxy, "", "*", photos, "direct"};
        QTest::newRow("none named") << QStringList{"", "", "", photos, "direct"};
    }

    void proxyChoice()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows names its proxy in its own settings (WinHTTP), not in https_proxy and no_proxy");
#endif
        QFETCH(QStringList, row);
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "no_proxy"})
            qputenv(name, row.takeFirst().toUtf8());
        const QNetworkProxy direct(QNetworkProxy::NoProxy), proxy(QNetworkProxy::HttpProxy, u"proxy.example"_s, 3128);
        QCOMPARE(SystemProxy().queryProxy(QNetworkProxyQuery(QUrl(row[0]), QNetworkProxyQuery::TcpSocket)),
                 QList{row[1] == u"direct"_s ? direct : proxy});
    }

    void everythingGoesThroughTheNamedProxy()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows names its proxy in its own settings (WinHTTP), not in https_proxy");
#endif
        SilentProxy proxy;
        TestWebSocketServer wss;
        QVERIFY(proxy.listen() && wss.listen());
        m_server.setResponse(u"/42"_s, 200, "42");
        qputenv("https_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
        SystemProxy::install();
        const auto restore = qScopeGuard([] { QNetworkProxyFactory::setApplicationProxyFactory(nullptr); });
        // Qt never proxies a loopback name: the servers go by a name that only the proxy resolves.
        const QString ws = u"glimdeck.test:%1"_s.arg(wss.port()), https = u"glimdeck.test:%1"_s.arg(m_server.port());
        WebSocketClient client(QUrl(u"wss://"_s + ws), nullptr);
        QVERIFY(QSignalSpy(&client, &WebSocketClient::connected).wait(5000));
        QNetworkAccessManager network;
        FileDownloader picture(QUrl(u"https://%1/42"_s.arg(https)), &network, nullptr);
        QVERIFY(QSignalSpy(&picture, &FileDownloader::downloaded).wait(5000));
        TrayManager tray(false, u"https://%1/42"_s.arg(https), nullptr);
        emit menu(tray)->aboutToShow();
        QTRY_COMPARE(clients(tray), u"Clients connectés : 42"_s);
        QCOMPARE(proxy.tunnels(), (QStringList{ws, https, https}));
    }

    void autostart_data()
    {
        QTest::addColumn<QString>("before"); // a file already there, under the configuration folder
        QTest::addColumn<QString>("marks"); // 1 where checked and the entry starts this executable: at start, per click
        QTest::newRow("nothing") << u""_s << u"010"_s;
        QTest::newRow("entry left by a copy elsewhere") << u"autostart/tst_traymanager.desktop"_s << u"101"_s;
        QTest::newRow("a file where the folder goes") << u"autostart"_s << u"000"_s; // each click fails and says so
    }

    void autostart()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows starts programs at log-on from the Run key (runKey), not from an XDG autostart entry");
#endif
        QFETCH(QString, before);
        QFETCH(QString, marks);
        QVERIFY(QDir(m_config.path()).removeRecursively());
        QVERIFY(before.isEmpty() || TestSupport::writeFile(m_config.filePath(before), "Exec=/old/tst_traymanager\n"));
        LogCapture log;
        TrayManager tray(false, nullptr);
        QAction* launch = menu(tray)->actions().at(LAUNCH);
        const QString exec = AutostartEntry::desktopExec(QCoreApplication::applicationFilePath());
        for (QChar mark : marks) {
            QCOMPARE(launch->isChecked(), mark == u'1');
            const QByteArray entry = TestSupport::readFile(m_config.filePath(u"autostart/tst_traymanager.desktop"_s));
            QCOMPARE(entry.contains(("\nExec=" + exec + "\n").toUtf8()), mark == u'1');
            launch->trigger();
        }
        QCOMPARE(log.lines(QtWarningMsg), QStringList(marks == u"000"_s ? 3 : 0, u"Failed to enable autostart"_s));
    }

    void runKey_data()
    {
        QTest::addColumn<QString>("before"); // the value already under this executable's name, empty for none
        QTest::addColumn<QString>("marks");  // 1 where checked and the value names this executable: at start, per click
        QTest::newRow("nothing") << u""_s << u"010"_s;
        QTest::newRow("value left by a copy elsewhere") << u"C:\\old\\tst_traymanager.exe"_s << u"101"_s;
    }

    // Read back through the registry path itself, as Windows reads it at log-on.
    void runKey()
    {
#ifndef Q_OS_WIN
        QSKIP("the Run key is in the Windows registry; elsewhere the native settings are a plain file");
#endif
        QFETCH(QString, before);
        QFETCH(QString, marks);
        const QString key = u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"_s;
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
        const auto value = [&] { return QSettings(key, QSettings::NativeFormat).value(name); };
        const auto restore = qScopeGuard([&] { QSettings(key, QSettings::NativeFormat).remove(name); });
        QSettings(key, QSettings::NativeFormat).remove(name);
        if (!before.isEmpty())
            QSettings(key, QSettings::NativeFormat).setValue(name, before);
        LogCapture log;
        TrayManager tray(false, nullptr);
        QAction* launch = menu(tray)->actions().at(LAUNCH);
        const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        for (QChar mark : marks) {
            QCOMPARE(launch->isChecked(), mark == u'1');
            QCOMPARE(value() == QVariant(path), mark == u'1');
            launch->trigger();
        }
        QCOMPARE(log.lines(QtWarningMsg), QStringList());
    }

    // The Windows run value: named up to the first dot, backslashes, and quoted when spaced, as Exec is.
    void runValue()
    {
        QCOMPARE(AutostartEntry::runValueName(u"/opt/my.app.exe"_s), u"my"_s);
        QCOMPARE(AutostartEntry::desktopExec(u"/opt/my.app.exe"_s), u"/opt/my.app.exe"_s);
        QCOMPARE(AutostartEntry::runValueData(u"C:/Apps/glimdeck.exe"_s), u"C:\\Apps\\glimdeck.exe"_s);
        QCOMPARE(AutostartEntry::runValueData(u"C:/My Apps/glimdeck.exe"_s), u"\"C:\\My Apps\\glimdeck.exe\""_s);
        QCOMPARE(AutostartEntry::desktopExec(u"C:/My Apps/glimdeck.exe"_s), u"\"C:/My Apps/glimdeck.exe\""_s);
    }

    // The coordinator's own tray decides whether sessions started after a switch speak (here the fourth, while it
    // waits for a place). Switched on at the end, engines are built anyway: a voice set up for a silent one would show.
    void speechEntryReachesNextSession()
    {
        m_server.setResponse(u"/4"_s, {200, {}, {}, 0, true}); // never answered: its session lives on
        for (int toggles : {0, 1, 2}) {                        // none, on, on then off
            LogCapture log;
            GlimDeck glimDeck;
            QAction* speech = menu(*glimDeck.findChild<TrayManager*>())->actions().at(SPEECH);
            for (int i = 1; i <= 4; ++i) // the first three are not found
                QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck",
                                                  Q_ARG(QString, m_server.url(u"/%1"_s.arg(i)).toString()),
                                                  Q_ARG(QString, u"Bonjour"_s)));
            for (int i = 0; i < toggles; ++i)
                speech->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(m_server.requestedPaths().count(u"/4"_s), toggles + 1, 10000); // one a round
            speech->setChecked(true);
            // speech-dispatcher lists thousands of voices for each engine: slow on a loaded machine.
            QTRY_VERIFY_WITH_TIMEOUT(log.lines().indexOf(QRegularExpression(u".*prêt : (\\d+) sur \\1"_s)) >= 0, 90000);
            QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2, 10000);
            QTest::qWait(500);
            QCOMPARE(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2);
            QCOMPARE(log.count(u"TTS Enabled: true"_s), toggles / 2 + 1);
        }
    }

    void pause_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("until"); // chosen at 10:00
        QTest::newRow("half an hour") << u"30 minutes"_s << u"10:30"_s;
        QTest::newRow("an hour") << u"1 heure"_s << u"11:00"_s;
        QTest::newRow("tomorrow morning") << u"Jusqu'à demain 8 h"_s << u"08:00"_s;
    }

    // Chosen in the menu, shown in the tooltip and the icon, kept across a restart, ended by itself or by "Reprendre".
    void pause()
    {
        QFETCH(QString, entry);
        QFETCH(QString, until);
        const QString file = m_config.filePath(u"pause.json"_s);
        QVERIFY(TestSupport::writeFile(file, "{\"until\":"));
        setNow(QDateTime(QDate::currentDate(), QTime(10, 0)));
        LogCapture log;
        Pause pause(file, [this] { return now(); });
        QCOMPARE(log.lines(QtWarningMsg), QStringList{u"Pause illisible, ignorée : \"%1\""_s.arg(file)});
        RecentPhotos recent;
        TrayManager tray(false, nullptr);
        tray.addPhotoMenus(&recent, &pause);
        tray.setConnected(true);
        const QImage plain = iconImage(tray);
        QCOMPARE(texts(menu(tray)).mid(RECENT), (QStringList{"Photos récentes", "Pause", "Quitter"}));
        QMenu* pauseMenu = menu(tray)->actions().at(PAUSE)->menu();
        const QStringList choices{"30 minutes", "1 heure", "Jusqu'à demain 8 h"};
        QCOMPARE(texts(pauseMenu), choices);
        pauseMenu->actions().at(int(choices.indexOf(entry)))->trigger();
        QCOMPARE(tip(tray), u"GlimDeck — connecté, en pause jusqu'à "_s + until);
        QVERIFY(iconImage(tray) != plain);
        QCOMPARE(texts(pauseMenu), choices + QStringList{"Reprendre"});

        setNow(pause.until().addMSecs(-300)); // a restart shortly before the end: paused still, then no more
        Pause restarted(file, [this] { return now(); });
        TrayManager second(false, nullptr);
        second.addPhotoMenus(&recent, &restarted);
        second.setConnected(false);
        QCOMPARE(tip(second), u"GlimDeck — déconnecté, en pause jusqu'à "_s + until);
        QTRY_COMPARE(tip(second), u"GlimDeck — déconnecté"_s);
        QCOMPARE(TestSupport::readFile(file), QByteArray("{}"));

        pauseMenu->actions().at(choices.size())->trigger(); // "Reprendre"
        QCOMPARE(tip(tray), u"GlimDeck — connecté"_s);
        QCOMPARE(iconImage(tray), plain);
        QCOMPARE(texts(pauseMenu), choices);
    }

    // Newest first, the last ten, marked "•" until the list is opened; an entry chosen is asked for again.
    void recentPhotos()
    {
        setNow(QDateTime(QDate::currentDate(), QTime(10, 0)));
        RecentPhotos recent;
        Pause pause(m_config.filePath(u"none.json"_s), [this] { return now(); });
        TrayManager tray(false, nullptr);
        tray.addPhotoMenus(&recent, &pause);
        tray.setConnected(true);
        const QImage plain = iconImage(tray);
        for (int i = 1; i <= 11; ++i)
            recent.add({QUrl(u"https://h/%1"_s.arg(i)), i == 11 ? QString(45, u'x') : u"m&%1"_s.arg(i),
                        i % 2 ? u"r1"_s : QString(), now().addSecs(i * 60), 0});
        QMenu* list = menu(tray)->actions().at(RECENT)->menu();
        const QStringList newest{"• 10:11 — r1 — " + QString(40, u'x') + "…", "• 10:10 — m&&10", "• 10:09 — r1 — m&&9"};
        QCOMPARE(texts(list).size(), RecentPhotos::MAX_PHOTOS);
        QCOMPARE(texts(list).mid(0, 3), newest);
        QCOMPARE(tip(tray), u"GlimDeck — connecté\n10 photos non vues"_s);
        QVERIFY(iconImage(tray) != plain);
        emit list->aboutToShow();
        QCOMPARE(tip(tray), u"GlimDeck — connecté"_s);
        QCOMPARE(iconImage(tray), plain);
        QCOMPARE(texts(list).mid(0, 3), newest); // while it is open
        recent.markExpired(recent.entries().at(1).photo.recentId);
        emit list->aboutToHide();
        QTRY_COMPARE(texts(list).mid(0, 2), (QStringList{newest[0].mid(2), "10:10 — m&&10 (expirée)"}));
        QSignalSpy chosen(&tray, &TrayManager::recentPhotoChosen);
        list->actions().at(1)->trigger();
        QCOMPARE(chosen.value(0), QVariantList{recent.entries().at(1).photo.recentId});
    }

    // Chosen from the list, a photo is downloaded and shown again; one the server no longer has is marked.
    void recentPhotoShownAgain()
    {
        m_server.setResponse(u"/again"_s, 200, TestSupport::png(QSize(32, 32), Qt::red));
        LogCapture log;
        GlimDeck glimDeck;
        QMenu* list = menu(*glimDeck.findChild<TrayManager*>())->actions().at(RECENT + 1)->menu(); // after "Écran"
        QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck",
                                          Q_ARG(QString, m_server.url(u"/again"_s).toString()),
                                          Q_ARG(QString, u"Bonjour"_s)));
        QTRY_COMPARE(texts(list).value(0).mid(5), u" — Bonjour"_s); // seen once shown
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::windows<Overlay>().isEmpty(), 10000);
        list->actions().at(0)->trigger();
        QTRY_COMPARE(m_server.requestedPaths().count(u"/again"_s), 2);
        QTRY_COMPARE(TestSupport::windows<Overlay>().size(), 1);
        m_server.setResponse(u"/again"_s, 404, "<html>");
        list->actions().at(0)->trigger();
        QTRY_VERIFY(texts(list).value(0).endsWith(u"Bonjour (expirée)"_s));
        QCOMPARE(log.count(u"Photo récente introuvable, marquée expirée : QUrl(\"%1\")"_s.arg(
                     m_server.url(u"/again"_s).toString())),
                 1);
    }

private:
    QTemporaryDir m_config;
    QList<QUrl> m_opened;
    TestHttpsServer m_server;
};

QTEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
