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

class TestEndToEnd : public QObject
{
    Q_OBJECT

    const QString m_certs = QStringLiteral(GLIMDECK_TEST_CERTS);
    QTemporaryDir m_home;
    QProcess m_server;
    QProcess m_nginx;
    QProcess m_client;
    QByteArray m_log;
    QNetworkAccessManager m_network;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFile::exists(m_certs + u"/server.key"_s)
            || !SERVER_HOST.startsWith("localhost:"))
            QSKIP("needs the display, certificates and build for localhost:PORT that the test script provides");
        ServerTrust::install(readFile(m_certs + u"/ca.pem"_s));
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_log += m_server.readAllStandardError(); });
    }

    void cleanup() { stopAll({&m_client, &m_nginx, &m_server}); }

    void photosTrayAndRoomWindowWhileTheServerComesAndGoes()
    {
        QVERIFY(writeFile(m_home.filePath("data/glimdeck/rooms.json"), R"(["famille","bureau"])"));
        m_client.setProcessEnvironment(childEnvironment(m_home.path(), "xcb"));
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
        const QStringList icons = xdotool(u"search --sync --onlyvisible --class glimdeck"_s.split(u' '));
        QCOMPARE(icons.size(), 1);
        const WId icon = icons.first().toULongLong();
        const QColor green(0x2e, 0xcc, 0x40);
        const QColor red(0xe5, 0x39, 0x35);
        const QColor photo(220, 30, 30);
        QVERIFY(centreShows(icon, red, true, 5000));
        startServer();
        QVERIFY(centreShows(icon, green, true, 5000));

        QCOMPARE(upload("famille"), 200);
        QVERIFY2(centreShows(0, photo, true, 10000), m_log.constData());
        keepScreenshot(0, "photo-on-screen.png");
        QVERIFY(centreShows(0, photo, false, 6000));

        xdotool(u"mousemove --window %1 6 6 click 1"_s.arg(icon).split(u' '));
        const QString room = xdotool(u"search --sync --onlyvisible --name ^Glim-deck$"_s.split(u' ')).value(0);
        QVERIFY(centreShows(room.toULongLong(), Qt::black, false, 5000));
        keepScreenshot(room.toULongLong(), "room-window.png");

        // Now behind the shipped nginx site.
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
        QVERIFY(centreShows(icon, red, true, 5000));
        startServer(true);
        QVERIFY(centreShows(icon, green, true, 5000));
        QCOMPARE(upload("bureau"), 200);
        QVERIFY(centreShows(0, photo, true, 10000));
    }

    void missedPhotosComeBackWithTheLink()
    {
        m_log.clear();
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(QDir(QFileInfo(RoomListFile::path()).path()).removeRecursively());
        QVERIFY(writeFile(RoomListFile::path(), R"(["famille","bureau"])"));
        const quint16 serverPort = freePort();
        SilentProxy link(serverPort);
        QVERIFY(link.listen(QUrl(HTTPS_BASE_URL).port()));
        LogCapture log;
        GlimDeck glimDeck;
        const RecentPhotos* recent = glimDeck.findChild<RecentPhotos*>();
        startServer(false, serverPort);
        QCOMPARE(upload("famille", "vu", serverPort), 200);
        QTRY_COMPARE(recent->entries().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 10000);

        link.cut();
        QTRY_VERIFY(m_log.contains("Déconnexion WebSocket"));
        QCOMPARE(upload("famille", "un", serverPort), 200);
        QCOMPARE(upload("famille", "deux", serverPort), 200);
        QCOMPARE(upload("bureau", "trois", serverPort), 200);
        QVERIFY(link.listen(QUrl(HTTPS_BASE_URL).port()));
        QVERIFY(QMetaObject::invokeMethod(glimDeck.findChild<WebSocketClient*>(), "onNetworkBack"));
        QTRY_COMPARE_WITH_TIMEOUT(log.count(u"Photos manquées reçues : 3"_s), 1, 10000);
        QCOMPARE(glimDeck.findChildren<Session*>().size(), 1);
        QStringList messages;
        for (const RecentPhotos::Entry& entry : recent->entries())
            messages.append(entry.photo.message);
        QCOMPARE(messages, (QStringList{"trois", "deux", "un", "vu"}));
        QTRY_COMPARE_WITH_TIMEOUT(recent->unseenCount(), 2, 10000);
    }

private:
    void startServer(bool behindNginx = false, quint16 onPort = 0)
    {
        QString port = QString::number(onPort ? onPort : QUrl(HTTPS_BASE_URL).port());
        QStringList arguments = serverArguments(m_home.filePath("storage"), m_certs) << "--open-uploads";
        if (const QString viewKey = QStringLiteral(GLIMDECK_VIEW_KEY_FILE); !viewKey.isEmpty())
            arguments << u"--view-key-file="_s + viewKey;
        if (behindNginx) {
            const quint16 nginxPort = port.toUShort();
            port = QString::number(freePort());
            QVERIFY2(startNginx(m_nginx, m_home.filePath("nginx"), QStringLiteral(GLIMDECK_NGINX_SITE), m_certs,
                                nginxPort, {{":8080", port.toUShort()}}),
                     "nginx is needed (Debian: nginx-light)");
            arguments << "--no-tls";
        }
        m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE), arguments << "--port" << port);
        QTRY_VERIFY2_WITH_TIMEOUT(m_log.count(R"("famille", "bureau")") > int(behindNginx), m_log, 15000);
        QCOMPARE(finish(m_network.get(ViewKey::request(QUrl(USERS_URL)))).body, QByteArray("1"));
    }

    int upload(const QByteArray& room, const QByteArray& message = "Bonjour", quint16 port = 0)
    {
        const QByteArray picture = readFile(QFINDTESTDATA("data/photo-red.png"));
        const Fields form{{"room", room}, {"message", message}, {"picture", picture}};
        QUrl url(HTTPS_BASE_URL + u"/upload"_s);
        if (port)
            url.setPort(port);
        return post(m_network, url, form).status;
    }

    // Whether the centre of a window (0: the screen) comes to show the colour, or not.
    static bool centreShows(WId window, const QColor& rgb, bool shown, int timeoutMs)
    {
        const auto shows = [&] {
            const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
            const QColor c = shot.pixelColor(shot.width() / 2, shot.height() / 2);
            return qAbs(c.red() - rgb.red()) + qAbs(c.green() - rgb.green()) + qAbs(c.blue() - rgb.blue()) < 60;
        };
        return QTest::qWaitFor([&] { return shows() == shown; }, timeoutMs);
    }

    // For the README.
    static void keepScreenshot(WId window, const QString& name)
    {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
        if (const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS"); !folder.isEmpty())
            QVERIFY(shot.scaledToWidth(qMin(shot.width(), 960), Qt::SmoothTransformation).save(folder + u'/' + name));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
