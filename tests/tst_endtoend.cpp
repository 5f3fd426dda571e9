// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/recentphotos.h"
#include "core/session.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/servertrust.h"
#include "net/viewkey.h"
#include "net/websocketclient.h"
#include "settings/roomlistfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

// The real glimdeck against the real glimdeck-server, on the display the test script provides.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    const QString m_certs = QStringLiteral(GLIMDECK_TEST_CERTS);
    QTemporaryDir m_home;
    QProcess m_server, m_nginx, m_client;
    QByteArray m_log;
    QNetworkAccessManager m_network;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFile::exists(m_certs + u"/server.key"_s)
            || !SERVER_HOST.startsWith(u"localhost:"_s))
            QSKIP("needs the display, certificates and build for localhost:PORT that the test script provides");
        ServerTrust::install(readFile(m_certs + u"/ca.pem"_s));
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_log += m_server.readAllStandardError(); });
    }

    void cleanup()
    {
        for (QProcess* process : {&m_client, &m_nginx, &m_server})
            process->terminate(), process->waitForFinished(5000);
    }

    void photosTrayAndRoomWindowWhileTheServerComesAndGoes()
    {
        // Started before its server, the client shows red until the server answers.
        QVERIFY(writeFile(m_home.filePath(u"data/glimdeck/rooms.json"_s), R"(["famille","bureau"])"));
        m_client.setProcessEnvironment(childEnvironment(m_home.path(), u"xcb"_s));
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
        const QStringList icons = xdotool(u"search --sync --onlyvisible --class glimdeck"_s.split(u' '));
        QCOMPARE(icons.size(), 1);
        const WId icon = icons.first().toULongLong();
        const QColor green(0x2e, 0xcc, 0x40), red(0xe5, 0x39, 0x35), photo(220, 30, 30), other(30, 30, 220);
        QVERIFY(centreShows(icon, red, true, 5000));
        startServer();
        QVERIFY(centreShows(icon, green, true, 5000));

        // A photo for another room never shows; one for ours shows for a while.
        QVERIFY(centreShows(0, photo, false, 0));
        QCOMPARE(upload("autre", "data/photo-blue.png"), 200);
        QVERIFY(!centreShows(0, other, true, 1500));
        QCOMPARE(upload("famille", "data/photo-red.png"), 200);
        QVERIFY2(centreShows(0, photo, true, 10000), m_log.constData());
        keepScreenshot(0, u"photo-on-screen.png"_s);
        QVERIFY(!centreShows(0, photo, false, 1500)); // shown at least that long, then gone
        QVERIFY(centreShows(0, photo, false, 6000));

        xdotool(u"mousemove --window %1 6 6 click 1"_s.arg(icon).split(u' '));
        const QString room = xdotool(u"search --sync --onlyvisible --name ^Glim-deck$"_s.split(u' ')).value(0);
        QVERIFY(centreShows(room.toULongLong(), Qt::black, false, 5000)); // shown and painted
        keepScreenshot(room.toULongLong(), u"room-window.png"_s);

        // The client comes back to its server, now behind the shipped nginx site.
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
        QVERIFY(centreShows(icon, red, true, 5000));
        startServer(true);
        QVERIFY(centreShows(icon, green, true, 5000));
        QCOMPARE(upload("bureau", "data/photo-red.png"), 200);
        QVERIFY(centreShows(0, photo, true, 10000));
    }

    // The client in this process, behind a link the test cuts while photos are sent.
    void missedPhotosComeBackWithTheLink()
    {
        m_log.clear();
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QDir(QFileInfo(RoomListFile::path()).path()).removeRecursively());
        QVERIFY(writeFile(RoomListFile::path(), R"(["famille","bureau"])"));
        QTcpServer probe;
        const quint16 serverPort = probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 1;
        probe.close();
        SilentProxy link(serverPort);
        QVERIFY(link.listen(QUrl(HTTPS_BASE_URL).port()));
        LogCapture log;
        GlimDeck glimDeck;
        const RecentPhotos* recent = glimDeck.findChild<RecentPhotos*>();
        startServer(false, serverPort);
        QCOMPARE(upload("famille", "data/photo-red.png", "vu", serverPort), 200);
        QTRY_COMPARE(recent->entries().size(), 1); // "bureau" has none: it catches up from the server's newest id
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 10000);

        link.cut();
        QTRY_VERIFY(m_log.contains("Déconnexion WebSocket"));
        const QList<std::pair<const char*, const char*>> missed{
            {"famille", "un"}, {"famille", "deux"}, {"bureau", "trois"}};
        for (const auto& [room, message] : missed)
            QCOMPARE(upload(room, "data/photo-red.png", message, serverPort), 200);
        QVERIFY(link.listen(QUrl(HTTPS_BASE_URL).port()));
        QVERIFY(QMetaObject::invokeMethod(glimDeck.findChild<WebSocketClient*>(), "onNetworkBack"));
        QTRY_COMPARE_WITH_TIMEOUT(log.count(u"Photos manquées reçues : 3"_s), 1, 10000);
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 1);
        QStringList messages;
        for (const RecentPhotos::Entry& entry : recent->entries())
            messages.append(entry.photo.message);
        QCOMPARE(messages, (QStringList{"trois", "deux", "un", "vu"}));
        QTRY_COMPARE_WITH_TIMEOUT(recent->unseenCount(), 2, 10000); // the newest was shown
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 10000);
    }

private:
    // On the client's port, alone or behind the shipped nginx site; ready once the client has given its rooms.
    void startServer(bool behindNginx = false, quint16 onPort = 0)
    {
        QString port = QString::number(onPort ? onPort : QUrl(HTTPS_BASE_URL).port());
        QStringList arguments{u"--listen=127.0.0.1"_s, u"--storage="_s + m_home.filePath(u"storage"_s),
                              u"--cert="_s + m_certs + u"/server.pem"_s, u"--key="_s + m_certs + u"/server.key"_s,
                              u"--open-uploads"_s};
        if (const QString viewKey = QStringLiteral(GLIMDECK_VIEW_KEY_FILE); !viewKey.isEmpty())
            arguments << u"--view-key-file="_s + viewKey;
        if (behindNginx) {
            QTcpServer probe;
            QString site = QString::fromUtf8(readFile(QStringLiteral(GLIMDECK_NGINX_SITE)));
            site.replace(u"listen [::]:443 ssl;"_s, QString()).replace(u"listen 443"_s, u"listen 127.0.0.1:"_s + port);
            site.replace(u"/etc/letsencrypt/live/photos.example.org/fullchain.pem"_s, m_certs + u"/server.pem"_s)
                .replace(u"/etc/letsencrypt/live/photos.example.org/privkey.pem"_s, m_certs + u"/server.key"_s)
                .replace(u":8080"_s, u':' + (port = QString::number(probe.listen() ? probe.serverPort() : 1)));
            QVERIFY(writeFile(m_home.filePath(u"nginx/nginx.conf"_s),
                              readFile(QFINDTESTDATA("data/nginx-test.conf")).replace("@SITE@", site.toUtf8())));
            m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
            m_nginx.start(QStandardPaths::findExecutable(u"nginx"_s, {u"/usr/sbin"_s}),
                          {u"-p"_s, m_home.filePath(u"nginx"_s), u"-c"_s, u"nginx.conf"_s, u"-e"_s, u"error.log"_s});
            QVERIFY2(m_nginx.waitForStarted(10000), "nginx is needed (Debian: nginx-light)");
            arguments << u"--no-tls"_s;
        }
        m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE), arguments << u"--port"_s << port);
        QTRY_VERIFY2_WITH_TIMEOUT(m_log.count(R"("famille", "bureau")") > int(behindNginx), m_log, 15000);
        QCOMPARE(get(USERS_URL), QByteArray("1"));
    }

    QByteArray get(const QString& url) { return finish(m_network.get(ViewKey::request(QUrl(url)))).body; }

    int upload(const QByteArray& room, const char* picture, const QByteArray& message = "Bonjour", quint16 port = 0)
    {
        const Fields form{{"room", room}, {"message", message}, {"picture", readFile(QFINDTESTDATA(picture))}};
        QUrl url(HTTPS_BASE_URL + u"/upload"_s);
        if (port)
            url.setPort(port);
        return post(m_network, url, form).status;
    }

    // Whether the centre of a window (0: the screen) comes to show the colour, or not, in the time.
    static bool centreShows(WId window, const QColor& rgb, bool shown, int timeoutMs)
    {
        const auto shows = [&] {
            const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
            const QColor c = shot.pixelColor(shot.width() / 2, shot.height() / 2);
            return qAbs(c.red() - rgb.red()) + qAbs(c.green() - rgb.green()) + qAbs(c.blue() - rgb.blue()) < 60;
        };
        return QTest::qWaitFor([&] { return shows() == shown; }, timeoutMs);
    }

    // With GLIMDECK_SCREENSHOTS set, the pictures the README shows are kept there.
    static void keepScreenshot(WId window, const QString& name)
    {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
        if (const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS"); !folder.isEmpty())
            QVERIFY(shot.scaledToWidth(qMin(shot.width(), 960), Qt::SmoothTransformation).save(folder + u'/' + name));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
