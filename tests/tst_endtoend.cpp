#include "net/endpoints.h"
#include "net/servertrust.h"
#include "testsupport.h"

// The real glimdeck against the real glimdeck-server, on the display the test script provides.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs a display with a notification area (the test script provides one)");
        m_certs = QStringLiteral(GLIMDECK_TEST_CERTS);
        if (m_certs.isEmpty() || !QFile::exists(m_certs + QStringLiteral("/server.key")))
            QSKIP("needs a build configured with GLIMDECK_SERVER_CA from scripts/make-certs.sh (the test script does)");
        if (!SERVER_HOST.startsWith(QStringLiteral("localhost:")))
            QSKIP("needs a build for localhost:PORT (the test script makes one)");
        QFile authority(m_certs + QStringLiteral("/ca.pem"));
        QVERIFY(authority.open(QIODevice::ReadOnly));
        ServerTrust::install(authority.readAll());
    }

    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_serverLog.clear();
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_serverLog += QString::fromUtf8(m_server.readAllStandardError()); });
    }

    void cleanup()
    {
        m_server.disconnect(this);
        for (QProcess* process : {&m_client, &m_nginx, &m_server}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    void photoForOurRoomShowsAndGoes_data()
    {
        QTest::addColumn<bool>("behindNginx");
        QTest::newRow("direct") << false;
        QTest::newRow("behind nginx") << true;
    }

    void photoForOurRoomShowsAndGoes()
    {
        QFETCH(bool, behindNginx);
        startServer(behindNginx);
        startClient("[\"e2e\"]");
        QVERIFY2(waitForServerLog(QStringLiteral("e2e"), 15000), qPrintable(m_serverLog));
        QCOMPARE(get(USERS_URL), QByteArray("1"));
        const QColor red(220, 30, 30);
        const QColor blue(30, 30, 220);
        QVERIFY(!near(centreOf(0), red));

        QCOMPARE(upload(QStringLiteral("autre"), blue), 200);
        QCOMPARE(upload(QStringLiteral("e2e"), red), 200);
        QVERIFY2(waitForCentre(0, red, true, 10000), qPrintable(m_serverLog));
        keepScreenshot(QGuiApplication::primaryScreen()->grabWindow(0), QStringLiteral("photo-on-screen.png"));
        QElapsedTimer shown;
        shown.start();
        // Gone after the display time; the other room's picture never shows.
        QVERIFY(waitForCentre(0, red, false, 6000));
        QVERIFY2(shown.elapsed() > 1500, qPrintable(QString::number(shown.elapsed())));
        QVERIFY(!waitForCentre(0, blue, true, 1500));
    }

    void clientComesBackAfterServerRestart()
    {
        startServer();
        startClient("[\"e2e\"]");
        QVERIFY(waitForServerLog(QStringLiteral("e2e"), 15000));
        stopServer();
        m_serverLog.clear();
        startServer();
        // Lost once, so the first reconnection comes after 1 s and sends the list again.
        QVERIFY2(waitForServerLog(QStringLiteral("e2e"), 10000), qPrintable(m_serverLog));
        const QColor green(30, 200, 30);
        QCOMPARE(upload(QStringLiteral("e2e"), green), 200);
        QVERIFY(waitForCentre(0, green, true, 10000));
    }

    void trayIconShowsStateAndOpensRoomWindow()
    {
        // Started before its server, the client shows red until the server answers.
        startClient("[\"famille\",\"bureau\"]");
        const QStringList icons = waitForWindows(QStringLiteral("--class"), QStringLiteral("glimdeck"));
        QCOMPARE(icons.size(), 1);
        const WId icon = icons.first().toULongLong();
        const QColor green(0x2e, 0xcc, 0x40);
        const QColor red(0xe5, 0x39, 0x35);
        QVERIFY(waitForCentre(icon, red, true, 5000));
        startServer();
        QVERIFY(waitForServerLog(QStringLiteral("\"famille\", \"bureau\""), 15000));
        QVERIFY(waitForCentre(icon, green, true, 5000));

        TestSupport::xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icons.first(),
                              QStringLiteral("6"), QStringLiteral("6"), QStringLiteral("click"), QStringLiteral("1")});
        const QStringList windows = waitForWindows(QStringLiteral("--name"), QStringLiteral("^Glim-deck$"));
        QVERIFY(!windows.isEmpty());
        QTest::qWait(500);
        keepScreenshot(QGuiApplication::primaryScreen()->grabWindow(windows.first().toULongLong()),
                       QStringLiteral("room-window.png"));

        stopServer();
        QVERIFY(waitForCentre(icon, red, true, 5000));
    }

private:
    void startServer(bool behindNginx = false);
    void startNginx(quint16 serverPort);

    void stopServer()
    {
        m_server.terminate();
        QVERIFY(m_server.waitForFinished(10000));
    }
    QByteArray get(const QString& url);
    void startClient(const QByteArray& rooms);
    bool waitForServerLog(const QString& text, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return m_serverLog.contains(text); }, timeoutMs);
    }
    int upload(const QString& room, const QColor& colour, const QString& message = QStringLiteral("Bonjour"));

    // The colour at the centre of a window, or of the screen for window 0.
    static QColor centreOf(WId window)
    {
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
        return shot.isNull() ? QColor() : shot.pixelColor(shot.width() / 2, shot.height() / 2);
    }
    static bool near(const QColor& a, const QColor& b)
    {
        return qAbs(a.red() - b.red()) < 24 && qAbs(a.green() - b.green()) < 24 && qAbs(a.blue() - b.blue()) < 24;
    }
    static bool waitForCentre(WId window, const QColor& colour, bool shown, int timeoutMs)
    {
        return QTest::qWaitFor([&] { return near(centreOf(window), colour) == shown; }, timeoutMs);
    }
    static QStringList waitForWindows(const QString& option, const QString& value)
    {
        QStringList found;
        const auto search = [&] {
            found = TestSupport::xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), option, value});
            return !found.isEmpty();
        };
        static_cast<void>(QTest::qWaitFor(search, 10000));
        return found;
    }
    static void keepScreenshot(const QPixmap& shot, const QString& name);

    QString m_certs;
    std::unique_ptr<QTemporaryDir> m_home;
    QProcess m_server;
    QProcess m_nginx;
    QProcess m_client;
    QString m_serverLog;
    QNetworkAccessManager m_network;
};

// On the port the client is built for: the server itself, or nginx in front of the server in
// plain mode on another loopback port.
void TestEndToEnd::startServer(bool behindNginx)
{
    QStringList arguments{QStringLiteral("--storage"), m_home->filePath(QStringLiteral("storage")),
                          QStringLiteral("--listen"), QStringLiteral("127.0.0.1"), QStringLiteral("--port")};
    if (behindNginx) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        arguments << QString::number(port) << QStringLiteral("--no-tls");
        startNginx(port);
    } else {
        arguments << QString::number(QUrl(HTTPS_BASE_URL).port(443)) << QStringLiteral("--cert")
                  << m_certs + QStringLiteral("/server.pem") << QStringLiteral("--key")
                  << m_certs + QStringLiteral("/server.key");
    }
    m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE), arguments);
    QVERIFY(m_server.waitForStarted(10000));
    // Listening once /users answers.
    QTRY_VERIFY_WITH_TIMEOUT(!get(USERS_URL).isNull(), 15000);
}

// The shipped site, moved to loopback, the test certificate and the server's port.
void TestEndToEnd::startNginx(quint16 serverPort)
{
    const QString folder = m_home->filePath(QStringLiteral("nginx"));
    QVERIFY(QDir().mkpath(folder));
    // Run as root, nginx's workers are "nobody" and must reach their temporary files.
    for (const QString& path : {m_home->path(), folder})
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOther));
    QFile shipped(QStringLiteral(GLIMDECK_NGINX_SITE));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QString site = QString::fromUtf8(shipped.readAll());
    site.replace(QRegularExpression(QStringLiteral("listen \\[::\\]:443 ssl;")), QString())
        .replace(QRegularExpression(QStringLiteral("listen 443 ssl;")),
                 QStringLiteral("listen 127.0.0.1:%1 ssl;").arg(QUrl(HTTPS_BASE_URL).port(443)))
        .replace(QRegularExpression(QStringLiteral("ssl_certificate .*;")),
                 QStringLiteral("ssl_certificate %1/server.pem;").arg(m_certs))
        .replace(QRegularExpression(QStringLiteral("ssl_certificate_key .*;")),
                 QStringLiteral("ssl_certificate_key %1/server.key;").arg(m_certs))
        .replace(QStringLiteral("server 127.0.0.1:8080;"), QStringLiteral("server 127.0.0.1:%1;").arg(serverPort));
    QFile config(folder + QStringLiteral("/nginx.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("daemon off; worker_processes 1; pid nginx.pid; error_log error.log;\n"
                                "events { worker_connections 256; }\n"
                                "http { access_log access.log; client_body_temp_path body; proxy_temp_path proxy;\n"
                                "fastcgi_temp_path fastcgi; uwsgi_temp_path uwsgi; scgi_temp_path scgi;\n%1}\n")
                     .arg(site)
                     .toUtf8());
    config.close();
    m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    m_nginx.start(QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin")}),
                  {QStringLiteral("-p"), folder, QStringLiteral("-c"), config.fileName(), QStringLiteral("-e"),
                   QStringLiteral("error.log")});
    QVERIFY2(m_nginx.waitForStarted(10000), "nginx is needed (Debian: nginx-light)");
}

// The body of a GET, or a null array when it fails.
QByteArray TestEndToEnd::get(const QString& url)
{
    QNetworkReply* reply = m_network.get(QNetworkRequest(QUrl(url)));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(2000);
    reply->deleteLater();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

void TestEndToEnd::startClient(const QByteArray& rooms)
{
    QVERIFY(QDir().mkpath(m_home->filePath(QStringLiteral("data/glimdeck"))));
    QFile roomFile(m_home->filePath(QStringLiteral("data/glimdeck/rooms.json")));
    QVERIFY(roomFile.open(QIODevice::WriteOnly));
    roomFile.write(rooms);
    roomFile.close();
    m_client.setProcessEnvironment(TestSupport::childEnvironment(m_home->path(), QStringLiteral("xcb")));
    m_client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_client.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
    QVERIFY(m_client.waitForStarted(10000));
}

int TestEndToEnd::upload(const QString& room, const QColor& colour, const QString& message)
{
    // A frame and a caption around a plain centre, which is what the screen is checked by.
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.fillRect(picture.rect().adjusted(16, 16, -16, -16), colour);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("Sans"), 28, QFont::Bold));
    painter.drawText(picture.rect().adjusted(0, 40, 0, 0), Qt::AlignHCenter | Qt::AlignTop, message);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");

    auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    const auto field = [form](const QByteArray& disposition, const QByteArray& body, const QByteArray& type) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
        if (!type.isEmpty())
            part.setHeader(QNetworkRequest::ContentTypeHeader, type);
        part.setBody(body);
        form->append(part);
    };
    field("form-data; name=\"room\"", room.toUtf8(), QByteArray());
    field("form-data; name=\"message\"", message.toUtf8(), QByteArray());
    field("form-data; name=\"picture\"; filename=\"photo.png\"", png, "image/png");
    QNetworkReply* reply = m_network.post(QNetworkRequest(QUrl(HTTPS_BASE_URL + QStringLiteral("/upload"))), form);
    form->setParent(reply);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(10000);
    reply->deleteLater();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// With GLIMDECK_SCREENSHOTS set, the pictures the README shows are kept there.
void TestEndToEnd::keepScreenshot(const QPixmap& shot, const QString& name)
{
    const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS");
    if (!folder.isEmpty())
        QVERIFY((shot.width() > 960 ? shot.scaledToWidth(960, Qt::SmoothTransformation) : shot)
                    .save(folder + QLatin1Char('/') + name));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
