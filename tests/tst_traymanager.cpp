#include "core/filedownloader.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/systemproxy.h"
#include "net/websocketclient.h"
#include "testsupport.h"
#include "tray/autostartentry.h"
#include "tray/traymanager.h"

namespace {
const QString UNPARSED = QStringLiteral("Could not parse client count response from");
const QString FAILED = QStringLiteral("Client count request failed:");
} // namespace

// The real tray icon in a real notification area (Xvfb with trayer).
class TestTrayManager : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("needs a notification area (the test script runs trayer under Xvfb)");
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY(m_server.listen());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    }

    void init()
    {
        QDir(m_config.filePath(QStringLiteral("autostart"))).removeRecursively();
        QFile::remove(m_config.filePath(QStringLiteral("autostart")));
    }

    void menuAndConnectionState()
    {
        TrayManager tray(false, nullptr);
        auto* icon = tray.findChild<QSystemTrayIcon*>();
        QVERIFY(icon && icon->isVisible());
        QCOMPARE(icon->toolTip(), QString());
        QStringList texts;
        for (QAction* action : icon->contextMenu()->actions())
            texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
        QCOMPARE(texts, (QStringList{"Envoyer des images", "Lancer au démarrage", "TextToSpeech", "--",
                                     "Clients connectés : —", "--", "Quitter"}));
        QVERIFY(entry(tray, "Lancer")->isCheckable() && entry(tray, "TextToSpeech")->isCheckable());
        QVERIFY(!entry(tray, "Clients")->isEnabled());
        // On this doubled screen the tray shows the pictures drawn at 44 x 44, in both states.
        QCOMPARE(shown(icon), drawing(QStringLiteral("icon")));
        for (int i = 0; i < 2; ++i) {
            tray.setConnected(false);
            QCOMPARE(icon->toolTip(), QStringLiteral("GlimDeck — déconnecté"));
            QCOMPARE(shown(icon), drawing(QStringLiteral("icon-red")));
        }
        tray.setConnected(true);
        QCOMPARE(icon->toolTip(), QStringLiteral("GlimDeck — connecté"));
        QCOMPARE(shown(icon), drawing(QStringLiteral("icon")));
        entry(tray, "Envoyer")->trigger();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(HTTPS_BASE_URL)});
        // A click or a double click asks for the window; the others do not.
        QSignalSpy displaySpy(&tray, &TrayManager::displayWindow);
        QList<int> requests;
        for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                            QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
            emit icon->activated(reason);
            requests.append(int(displaySpy.size()));
        }
        QCOMPARE(requests, (QList<int>{1, 2, 2, 2, 2}));
    }

    void counter_data()
    {
        QTest::addColumn<int>("status"); // 0: no server
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("warning");
        QTest::newRow("42") << 200 << QByteArray("42") << "Clients connectés : 42" << QString();
        QTest::newRow("spaces around") << 200 << QByteArray(" 42\n") << "Clients connectés : 42" << QString();
        QTest::newRow("plus sign") << 200 << QByteArray("+7") << "Clients connectés : 7" << QString();
        QTest::newRow("leading zeros") << 200 << QByteArray("007") << "Clients connectés : 7" << QString();
        QTest::newRow("negative") << 200 << QByteArray("-1") << "Clients connectés : -1" << QString();
        QTest::newRow("empty") << 200 << QByteArray("") << "Clients connectés : ?" << UNPARSED;
        QTest::newRow("fraction") << 200 << QByteArray("3.5") << "Clients connectés : ?" << UNPARSED;
        QTest::newRow("with a word") << 200 << QByteArray("42 users") << "Clients connectés : ?" << UNPARSED;
        QTest::newRow("JSON") << 200 << QByteArray("{}") << "Clients connectés : ?" << UNPARSED;
        QTest::newRow("past 32 bits") << 200 << QByteArray("2147483648") << "Clients connectés : ?" << UNPARSED;
        QTest::newRow("HTTP error") << 500 << QByteArray("oops") << "Clients connectés : ? (erreur)" << FAILED;
        QTest::newRow("no server") << 0 << QByteArray() << "Clients connectés : ? (erreur)" << FAILED;
    }

    void counter()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QString, warning);
        m_server.setResponse(QStringLiteral("/users"), status, body);
        const QString url = (status ? m_server.url(QStringLiteral("/users"))
                                    : TestSupport::refusedUrl(QStringLiteral("https"), QStringLiteral("/users")))
                                .toString();
        LogCapture log;
        TrayManager tray(false, url, nullptr);
        emit tray.findChild<QSystemTrayIcon*>()->contextMenu()->aboutToShow();
        QCOMPARE(entry(tray, "Clients")->text(), QStringLiteral("Clients connectés : …"));
        QTRY_VERIFY_WITH_TIMEOUT(entry(tray, "Clients")->text() != QStringLiteral("Clients connectés : …"), 10000);
        QCOMPARE(entry(tray, "Clients")->text(), text);
        QCOMPARE(log.countStartingWith(UNPARSED) + log.countStartingWith(FAILED), warning.isEmpty() ? 0 : 1);
        QVERIFY(warning.isEmpty() || log.countStartingWith(warning) == 1);
        if (warning == UNPARSED)
            QVERIFY(log.contains(QStringLiteral("%1 \"%2\" data: \"%3\"").arg(warning, url, QString::fromUtf8(body))));
    }

    void counterRepliesOutOfOrder()
    {
        m_server.setResponse(QStringLiteral("/slow"), 200, "1", 600);
        TrayManager tray(false, m_server.url(QStringLiteral("/slow")).toString(), nullptr);
        QMenu* menu = tray.findChild<QSystemTrayIcon*>()->contextMenu();
        emit menu->aboutToShow();
        QTRY_COMPARE(m_server.requestedPaths().count(QStringLiteral("/slow")), 1);
        m_server.setResponse(QStringLiteral("/slow"), 200, "2");
        emit menu->aboutToShow();
        QTRY_COMPARE(entry(tray, "Clients")->text(), QStringLiteral("Clients connectés : 2"));
        // The first request's reply comes last and has the last word.
        QTRY_COMPARE_WITH_TIMEOUT(entry(tray, "Clients")->text(), QStringLiteral("Clients connectés : 1"), 5000);
    }

    void proxyChoice_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("noProxy");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("proxied");
        const QByteArray https = "https_proxy";
        const QByteArray proxy = "http://proxy.example:3128";
        const QString host = QStringLiteral("photos.example");
        QTest::newRow("https_proxy") << https << proxy << QByteArray() << host << "https" << true;
        QTest::newRow("HTTPS_PROXY") << QByteArray("HTTPS_PROXY") << proxy << QByteArray() << host << "https" << true;
        QTest::newRow("no scheme") << https << QByteArray("proxy.example:3128") << QByteArray() << host << "https"
                                   << true;
        QTest::newRow("WebSocket tagged wss") << https << proxy << QByteArray() << host << "wss" << true;
        QTest::newRow("no_proxy: the host")
            << https << proxy << QByteArray("a.org, .photos.example") << host << "https" << false;
        QTest::newRow("no_proxy: its domain") << https << proxy << QByteArray("example") << host << "https" << false;
        QTest::newRow("no_proxy: longer name")
            << https << proxy << QByteArray("hotos.example") << host << "https" << true;
        QTest::newRow("no_proxy: subnet") << https << proxy << QByteArray("10.0.0.0/8") << "10.1.2.3"
                                          << "https" << false;
        QTest::newRow("no_proxy: *") << https << proxy << QByteArray("*") << host << "https" << false;
        QTest::newRow("none named") << https << QByteArray() << QByteArray() << host << "https" << false;
    }

    void proxyChoice()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, noProxy);
        QFETCH(QString, host);
        QFETCH(QString, tag);
        QFETCH(bool, proxied);
        qputenv(variable, value);
        qputenv("no_proxy", noProxy);
        const auto restore = qScopeGuard([&] {
            qunsetenv(variable);
            qunsetenv("no_proxy");
        });
        // Asked as the WebSocket asks: a TCP socket with its scheme as tag.
        const QList<QNetworkProxy> proxies =
            SystemProxy().queryProxy(QNetworkProxyQuery(host, 443, tag, QNetworkProxyQuery::TcpSocket));
        QCOMPARE(proxies.size(), 1);
        QCOMPARE(proxies.first().type(), proxied ? QNetworkProxy::HttpProxy : QNetworkProxy::NoProxy);
        if (proxied)
            QCOMPARE(proxies.first().hostName() + QLatin1Char(':') + QString::number(proxies.first().port()),
                     QStringLiteral("proxy.example:3128"));
    }

    void everythingGoesThroughTheNamedProxy()
    {
        SilentProxy proxy;
        QVERIFY(proxy.listen());
        TestWebSocketServer webSocketServer;
        QVERIFY(webSocketServer.listen());
        m_server.setResponse(QStringLiteral("/photo.png"), 200, "picture");
        m_server.setResponse(QStringLiteral("/users"), 200, "42");
        qputenv("https_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
        SystemProxy::install();
        const auto restore = qScopeGuard([] {
            qunsetenv("https_proxy");
            QNetworkProxyFactory::setApplicationProxyFactory(nullptr);
        });
        // Qt never proxies a loopback name: the servers go by a name that only the proxy resolves.
        const QString ws = QStringLiteral("glimdeck.test:%1").arg(webSocketServer.port());
        const QString https = QStringLiteral("glimdeck.test:%1").arg(m_server.port());

        WebSocketClient client(QUrl(QStringLiteral("wss://") + ws), nullptr);
        QVERIFY(QSignalSpy(&client, &WebSocketClient::connected).wait(5000));
        FileDownloader picture(QUrl(QStringLiteral("https://%1/photo.png").arg(https)), nullptr);
        QVERIFY(QSignalSpy(&picture, &FileDownloader::downloaded).wait(5000));
        QCOMPARE(picture.downloadedData(), QByteArray("picture"));
        TrayManager tray(false, QStringLiteral("https://%1/users").arg(https), nullptr);
        emit tray.findChild<QSystemTrayIcon*>()->contextMenu()->aboutToShow();
        QTRY_COMPARE(entry(tray, "Clients")->text(), QStringLiteral("Clients connectés : 42"));
        QCOMPARE(proxy.tunnels(), (QStringList{ws, https, https}));
    }

    void autostart_data()
    {
        QTest::addColumn<QString>("before");    // what is where the entry goes
        QTest::addColumn<QList<bool>>("marks"); // at start, then after each of two clicks
        QTest::addColumn<int>("failures");
        QTest::newRow("nothing") << QString() << QList<bool>{false, true, false} << 0;
        QTest::newRow("entry left by a copy elsewhere") << "entry" << QList<bool>{true, false, true} << 0;
        QTest::newRow("a file where the folder goes") << "blocker" << QList<bool>{false, false, false} << 2;
    }

    // The mark shows whether an entry that starts this very executable is in place, whatever happens.
    void autostart()
    {
        QFETCH(QString, before);
        QFETCH(QList<bool>, marks);
        QFETCH(int, failures);
        const QString path = AutostartEntry::desktopEntryPath(QCoreApplication::applicationFilePath());
        QCOMPARE(path, m_config.filePath(QStringLiteral("autostart/tst_traymanager.desktop")));
        if (!before.isEmpty()) {
            QDir().mkpath(QFileInfo(path).path());
            if (before == QLatin1String("blocker"))
                QDir(QFileInfo(path).path()).removeRecursively();
            QFile file(before == QLatin1String("entry") ? path : QFileInfo(path).path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Desktop Entry]\nType=Application\nExec=/old/place/tst_traymanager\n");
        }
        LogCapture log;
        TrayManager tray(false, nullptr);
        const QByteArray exec =
            "\nExec=" + AutostartEntry::desktopExec(QCoreApplication::applicationFilePath()).toUtf8() + "\n";
        for (int i = 0; i < marks.size(); ++i) {
            if (i > 0)
                entry(tray, "Lancer")->trigger();
            QCOMPARE(entry(tray, "Lancer")->isChecked(), marks.at(i));
            QFile file(path);
            QCOMPARE(file.open(QIODevice::ReadOnly) && file.readAll().contains(exec), marks.at(i));
        }
        QCOMPARE(log.lines(QtWarningMsg), QStringList(failures, QStringLiteral("Failed to enable autostart")));
    }

    void runValue_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QStringList>("expected"); // run value name and data, desktop Exec
        QTest::newRow("plain") << "C:/Apps/glimdeck.exe"
                               << QStringList{"glimdeck", "C:\\Apps\\glimdeck.exe", "C:/Apps/glimdeck.exe"};
        QTest::newRow("spaces") << "C:/Program Files/Glim deck/glimdeck.exe"
                                << QStringList{"glimdeck", "\"C:\\Program Files\\Glim deck\\glimdeck.exe\"",
                                               "\"C:/Program Files/Glim deck/glimdeck.exe\""};
        QTest::newRow("several dots") << "/opt/my.app.exe" << QStringList{"my", "\\opt\\my.app.exe", "/opt/my.app.exe"};
    }

    void runValue()
    {
        QFETCH(QString, executable);
        QFETCH(QStringList, expected);
        QCOMPARE((QStringList{AutostartEntry::runValueName(executable), AutostartEntry::runValueData(executable),
                              AutostartEntry::desktopExec(executable)}),
                 expected);
    }

    void speechEntryReachesNextSession_data()
    {
        QTest::addColumn<int>("toggles");
        QTest::addColumn<int>("engines");
        QTest::newRow("left off") << 0 << 0;
        QTest::newRow("switched on") << 1 << 1;
        QTest::newRow("on then off") << 2 << 0;
    }

    // The coordinator's own tray: its speech entry decides whether the next session speaks,
    // and only sessions started after the switch (here the fourth, which waits for a place).
    void speechEntryReachesNextSession()
    {
        QFETCH(int, toggles);
        QFETCH(int, engines);
        TestHttpsServer::Response never;
        never.never = true;
        m_server.setResponse(QStringLiteral("/4"), never); // its session lives until an engine is lent
        LogCapture log;
        GlimDeck glimDeck;
        const int requests = int(m_server.requestedPaths().size());
        for (const char* path : {"/1", "/2", "/3"})
            m_server.setResponse(QString::fromLatin1(path), 404, QByteArray(), 400);
        for (const char* path : {"/1", "/2", "/3", "/4"}) {
            QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck",
                                              Q_ARG(QString, m_server.url(QString::fromLatin1(path)).toString()),
                                              Q_ARG(QString, QStringLiteral("Bonjour"))));
        }
        for (int i = 0; i < toggles; ++i)
            entry(*glimDeck.findChild<TrayManager*>(), "TextToSpeech")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestedPaths().size(), requests + 4, 10000);
        // Engines are built in the background once speech is on; only the waiting photo borrows one.
        if (toggles > 0)
            QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Moteur de synthèse vocale prêt")) > 0,
                                     20000);
        QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), engines, 5000);
        QTest::qWait(300);
        QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), engines);
        QCOMPARE(log.count(QStringLiteral("TTS Enabled: true")), qMin(toggles, 1));
    }

private:
    static QAction* entry(TrayManager& tray, const char* text)
    {
        for (QAction* action : tray.findChild<QSystemTrayIcon*>()->contextMenu()->actions()) {
            if (action->text().startsWith(QString::fromUtf8(text)))
                return action;
        }
        return nullptr;
    }

    static QImage shown(QSystemTrayIcon* icon)
    {
        return icon->icon().pixmap(QSize(22, 22), 2.0).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

    static QImage drawing(const QString& name)
    {
        return QImage(QStringLiteral(":/icons/data/icons/%1@2x.png").arg(name))
            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }

    QTemporaryDir m_config;
    QList<QUrl> m_opened;
    TestHttpsServer m_server;
};

int main(int argc, char* argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    TestTrayManager test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_traymanager.moc"
