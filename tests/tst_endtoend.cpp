#include "net/endpoints.h"
#include "net/servertrust.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using TestSupport::xdotool;

// The real glimdeck against the real glimdeck-server, on the display the test script provides.
class TestEndToEnd : public QObject
{
    Q_OBJECT

    const QString m_certs = QStringLiteral(GLIMDECK_TEST_CERTS);
    std::optional<QTemporaryDir> m_home;
    QProcess m_server, m_nginx, m_client;
    QString m_serverLog;
    QNetworkAccessManager m_network;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFile::exists(m_certs + u"/server.key"_s)
            || !SERVER_HOST.startsWith(u"localhost:"_s))
            QSKIP("needs a display with a notification area, the certificates of scripts/make-certs.sh given as "
                  "GLIMDECK_SERVER_CA and a build for localhost:PORT (the test script provides all three)");
        ServerTrust::install(TestSupport::readFile(m_certs + u"/ca.pem"_s));
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_serverLog += QString::fromUtf8(m_server.readAllStandardError()); });
    }

    void init() { m_home.emplace(); }

    void cleanup()
    {
        for (QProcess* process : {&m_client, &m_nginx, &m_server}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(5000);
        }
        m_serverLog.clear();
    }

    void photoForOurRoomShowsAndGoes()
    {
        startServer();
        startClient("[\"e2e\"]");
        QTRY_VERIFY2_WITH_TIMEOUT(m_serverLog.contains(u"e2e"_s), qPrintable(m_serverLog), 15000);
        QCOMPARE(get(USERS_URL), QByteArray("1"));
        const QColor red(220, 30, 30), blue(30, 30, 220);
        QVERIFY(centreShows(0, red, false, 0));
        QCOMPARE(upload("autre", blue), 200);
        QCOMPARE(upload("e2e", red), 200);
        QVERIFY2(centreShows(0, red, true, 10000), qPrintable(m_serverLog));
        keepScreenshot(0, u"photo-on-screen.png"_s);
        QElapsedTimer shown;
        shown.start();
        // Gone after the display time; the other room's picture never shows.
        QVERIFY(centreShows(0, red, false, 6000));
        QVERIFY2(shown.elapsed() > 1500, qPrintable(QString::number(shown.elapsed())));
        QVERIFY(!centreShows(0, blue, true, 1500));
    }

    void trayShowsTheLinkAndOpensTheRoomWindow()
    {
        // Started before its server, the client shows red until the server answers.
        startClient("[\"famille\",\"bureau\"]");
        QStringList icons, windows;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(icons = xdotool({u"search"_s, u"--onlyvisible"_s, u"--class"_s, u"glimdeck"_s})).isEmpty(), 10000);
        QCOMPARE(icons.size(), 1);
        const WId icon = icons.first().toULongLong();
        const QColor green(0x2e, 0xcc, 0x40), red(0xe5, 0x39, 0x35), photo(30, 200, 30);
        QVERIFY(centreShows(icon, red, true, 5000));
        startServer();
        QTRY_VERIFY_WITH_TIMEOUT(m_serverLog.contains(u"\"famille\", \"bureau\""_s), 15000);
        QVERIFY(centreShows(icon, green, true, 5000));

        xdotool({u"mousemove"_s, u"--window"_s, icons.first(), u"6"_s, u"6"_s, u"click"_s, u"1"_s});
        QTRY_VERIFY_WITH_TIMEOUT(
            !(windows = xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Glim-deck$"_s})).isEmpty(), 10000);
        QVERIFY(centreShows(windows.first().toULongLong(), Qt::black, false, 5000)); // painted
        keepScreenshot(windows.first().toULongLong(), u"room-window.png"_s);

        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
        QVERIFY(centreShows(icon, red, true, 5000));
        // The client comes back to the server, now behind the shipped nginx site.
        m_serverLog.clear();
        startServer(true);
        QTRY_VERIFY2_WITH_TIMEOUT(m_serverLog.contains(u"\"famille\", \"bureau\""_s), qPrintable(m_serverLog), 15000);
        QVERIFY(centreShows(icon, green, true, 5000));
        QCOMPARE(upload("bureau", photo), 200);
        QVERIFY(centreShows(0, photo, true, 10000));
    }

private:
    // On the port the client is built for: the server itself, or the shipped nginx site in front
    // of the server in plain mode on another loopback port.
    void startServer(bool behindNginx = false)
    {
        const QString port = QString::number(QUrl(HTTPS_BASE_URL).port(443));
        QStringList arguments{u"--storage"_s, m_home->filePath(u"storage"_s), u"--listen=127.0.0.1"_s};
        if (behindNginx) {
            const QString plain = QString::number([] {
                QTcpServer probe;
                return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
            }());
            QString site = QString::fromUtf8(TestSupport::readFile(QStringLiteral(GLIMDECK_NGINX_SITE)));
            site.replace(u"listen [::]:443 ssl;"_s, QString())
                .replace(u"listen 443"_s, u"listen 127.0.0.1:"_s + port)
                .replace(u"/etc/letsencrypt/live/photos.example.org/fullchain.pem"_s, m_certs + u"/server.pem"_s)
                .replace(u"/etc/letsencrypt/live/photos.example.org/privkey.pem"_s, m_certs + u"/server.key"_s)
                .replace(u"127.0.0.1:8080"_s, u"127.0.0.1:"_s + plain);
            const QByteArray config = TestSupport::readFile(QFINDTESTDATA("data/nginx-test.conf"));
            QVERIFY(TestSupport::writeFile(m_home->filePath(u"nginx/nginx.conf"_s),
                                           QByteArray(config).replace("@SITE@", site.toUtf8())));
            m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
            m_nginx.start(QStandardPaths::findExecutable(u"nginx"_s, {u"/usr/sbin"_s}),
                          {u"-p"_s, m_home->filePath(u"nginx"_s), u"-c"_s, u"nginx.conf"_s, u"-e"_s, u"error.log"_s});
            QVERIFY2(m_nginx.waitForStarted(10000), "nginx is needed (Debian: nginx-light)");
            arguments << u"--port"_s << plain << u"--no-tls"_s;
        } else {
            arguments << u"--port"_s << port << u"--cert"_s << m_certs + u"/server.pem"_s << u"--key"_s
                      << m_certs + u"/server.key"_s;
        }
        m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE), arguments);
        QVERIFY(m_server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!get(USERS_URL).isEmpty(), 15000); // listening
    }

    QByteArray get(const QString& url) { return TestSupport::finish(m_network.get(QNetworkRequest(QUrl(url)))).body; }

    void startClient(const QByteArray& rooms)
    {
        QVERIFY(TestSupport::writeFile(m_home->filePath(u"data/glimdeck/rooms.json"_s), rooms));
        m_client.setProcessEnvironment(TestSupport::childEnvironment(m_home->path(), u"xcb"_s));
        m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_client.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
        QVERIFY(m_client.waitForStarted(10000));
    }

    int upload(const QByteArray& room, const QColor& colour)
    {
        // A frame and a caption around a plain centre, which is what the screen is checked by.
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.fillRect(picture.rect().adjusted(16, 16, -16, -16), colour);
        painter.setPen(Qt::white);
        painter.setFont(QFont(u"Sans"_s, 28, QFont::Bold));
        painter.drawText(picture.rect().adjusted(0, 40, 0, 0), Qt::AlignHCenter | Qt::AlignTop, u"Bonjour"_s);
        painter.end();
        QBuffer png;
        picture.save(&png, "PNG");
        return TestSupport::post(m_network, QUrl(HTTPS_BASE_URL + u"/upload"_s),
                                 {{"room", room}, {"message", "Bonjour"}, {"picture", png.data()}})
            .status;
    }

    // Whether the centre of a window, or of the screen for window 0, comes to show the colour (or
    // not) within the time.
    static bool centreShows(WId window, const QColor& colour, bool shown, int timeoutMs)
    {
        return QTest::qWaitFor(
            [&] {
                const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
                const QColor centre = shot.isNull() ? QColor() : shot.pixelColor(shot.width() / 2, shot.height() / 2);
                return (qAbs(centre.red() - colour.red()) + qAbs(centre.green() - colour.green())
                            + qAbs(centre.blue() - colour.blue())
                        < 60)
                       == shown;
            },
            timeoutMs);
    }

    // With GLIMDECK_SCREENSHOTS set, the pictures the README shows are kept there.
    static void keepScreenshot(WId window, const QString& name)
    {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
        if (const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS"); !folder.isEmpty())
            QVERIFY((shot.width() > 960 ? shot.scaledToWidth(960, Qt::SmoothTransformation) : shot)
                        .save(folder + u'/' + name));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
