// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "settings/roomlistfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

// Two instances joined through a private Redis, behind the shipped nginx site for a group.
class TestInstanceGroup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_redis, m_nginx;
    std::unique_ptr<ImageServer> m_servers[2];
    static constexpr int RECONNECT_DIVISOR = 10;
    QNetworkAccessManager m_network;
    std::optional<LogCapture> m_log; // made once the test has its own message handler

private slots:
    void initTestCase()
    {
        m_log.emplace();
        QVERIFY(TestCertificates::trustInProcess());
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(writeFile(RoomListFile::path(), R"(["famille"])"));
        startRedis();
        for (int i = 0; i < 2; ++i) {
            ServerOptions options;
            options.plain = true;
            options.storage = m_dir.filePath(u"images"_s);
            options.openUploads = true;
            options.decoderProgram = QStringLiteral(GLIMDECK_SERVER_EXECUTABLE);
            options.redis = m_dir.filePath(u"redis.sock"_s);
            options.redisInstance = u"instance"_s + QString::number(i);
            m_servers[i] = std::make_unique<ImageServer>(options);
            QVERIFY(m_servers[i]->listen(QHostAddress::LocalHost, 0));
        }
        startNginx();
        QTRY_COMPARE(m_log->countStartingWith(u"Redis joint"_s), 2);
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&m_nginx, &m_redis}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    void photosCountsAndCatchUpCrossInstances()
    {
        // Two of the program's own connections through nginx, one on each instance.
        std::vector<std::unique_ptr<WebSocketClient>> clients;
        std::vector<std::unique_ptr<QSignalSpy>> received;
        for (int i = 0; i < 2; ++i) {
            clients.push_back(std::make_unique<WebSocketClient>(QUrl(WS_BASE_URL), RECONNECT_DIVISOR, nullptr));
            received.push_back(std::make_unique<QSignalSpy>(clients[i].get(), &WebSocketClient::imageReceived));
            QTRY_COMPARE(m_servers[0]->hub().clientCount() + m_servers[1]->hub().clientCount(), i + 1);
        }
        QCOMPARE(m_servers[0]->hub().clientCount(), 1);
        QTRY_COMPARE(get(u"/users"_s, 0), QByteArray("2"));

        // Uploaded to one instance, each client has it once, and the picture is on both.
        QCOMPARE(upload(u"famille"_s, 0), 200);
        QTRY_COMPARE(received[1]->size(), 1);
        QCOMPARE(upload(u"famille"_s, 0), 200);
        QTRY_COMPARE(received[1]->size(), 2);
        QTRY_COMPARE(received[0]->size(), 2);
        const QString image = QUrl(received[0]->first().first().toString()).path();
        QCOMPARE(QUrl(received[1]->first().first().toString()).path(), image);
        QCOMPARE(get(image, 1).size(), get(image, 0).size());
        QVERIFY(!get(image, 1).isEmpty());

        // Redis restarted: delivery across instances resumes.
        m_redis.kill();
        m_redis.waitForFinished();
        QTRY_COMPARE(m_log->countStartingWith(u"Redis perdu"_s), 2);
        startRedis();
        QTRY_COMPARE_WITH_TIMEOUT(m_log->countStartingWith(u"Redis joint"_s), 4, 20000);
        QCOMPARE(upload(u"famille"_s, 0), 200);
        QTRY_COMPARE(received[1]->size(), 3);

        // A room followed by nobody yet is caught up on the other instance.
        QCOMPARE(upload(u"bureau"_s, 0), 200);
        auto late = connectClient(u"ws://127.0.0.1:%1/"_s.arg(m_servers[1]->port()), u"bureau"_s);
        QSignalSpy lateReceived(late.get(), &QWebSocket::textMessageReceived);
        late->sendTextMessage(uR"({"event":"photos:missed-request","data":{"known":{"bureau":0}}})"_s);
        QTRY_COMPARE(lateReceived.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lateReceived.last().first().toString().toUtf8())["data"]["count"].toInt(), 1);

        // One instance gone: its client comes back by itself through nginx to the other, and the count drops.
        m_servers[0].reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_servers[1]->hub().clientCount(), 3, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(get(u"/users"_s, 1), QByteArray("3"), 15000);
        QCOMPARE(upload(u"famille"_s, 1), 200);
        QTRY_COMPARE(received[0]->size(), 4);
        QTRY_COMPARE(received[1]->size(), 4);
    }

private:
    void startRedis()
    {
        m_redis.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_redis.setStandardOutputFile(QProcess::nullDevice());
        m_redis.start(QStandardPaths::findExecutable(u"redis-server"_s, {u"/usr/bin"_s, u"/usr/sbin"_s}),
                      {u"--port"_s, u"0"_s, u"--unixsocket"_s, m_dir.filePath(u"redis.sock"_s), u"--save"_s, u""_s,
                       u"--appendonly"_s, u"no"_s, u"--daemonize"_s, u"no"_s});
        QVERIFY2(m_redis.waitForStarted(10000), "redis-server is needed (Debian: redis-server)");
    }

    void startNginx()
    {
        // On the program's own server port, where its connection goes.
        const quint16 port = QUrl(HTTPS_BASE_URL).port();
        QString site = QString::fromUtf8(readFile(QStringLiteral(GLIMDECK_NGINX_SITE)));
        site.replace(u"listen [::]:443 ssl;"_s, QString())
            .replace(u"listen 443"_s, u"listen 127.0.0.1:"_s + QString::number(port));
        site.replace(u"/etc/letsencrypt/live/photos.example.org/fullchain.pem"_s,
                     TestCertificates::instance().filePath(u"server.pem"_s))
            .replace(u"/etc/letsencrypt/live/photos.example.org/privkey.pem"_s,
                     TestCertificates::instance().filePath(u"server.key"_s))
            .replace(u":8081"_s, u':' + QString::number(m_servers[0]->port()))
            .replace(u":8082"_s, u':' + QString::number(m_servers[1]->port()));
        QVERIFY(writeFile(m_dir.filePath(u"nginx/nginx.conf"_s),
                          readFile(QFINDTESTDATA("../data/nginx-test.conf")).replace("@SITE@", site.toUtf8())));
        m_nginx.setProcessChannelMode(QProcess::ForwardedChannels);
        m_nginx.start(QStandardPaths::findExecutable(u"nginx"_s, {u"/usr/sbin"_s}),
                      {u"-p"_s, m_dir.filePath(u"nginx"_s), u"-c"_s, u"nginx.conf"_s, u"-e"_s, u"error.log"_s});
        QVERIFY2(m_nginx.waitForStarted(10000), "nginx is needed (Debian: nginx-light)");
        QTRY_VERIFY(listening(port));
    }

    static bool listening(quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(1000);
    }

    // The body of an answer from one instance.
    QByteArray get(const QString& path, int server)
    {
        return finish(m_network.get(
                          QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_servers[server]->port()).arg(path)))))
            .body;
    }

    int upload(const QString& room, int server)
    {
        const Fields form{{"room", room.toUtf8()}, {"message", "Bonjour"}, {"picture", png({8, 8}, Qt::red)}};
        return post(m_network, QUrl(u"http://127.0.0.1:%1/upload"_s.arg(m_servers[server]->port())), form).status;
    }

    std::unique_ptr<QWebSocket> connectClient(const QString& url, const QString& room = u"famille"_s)
    {
        auto client = std::make_unique<QWebSocket>();
        client->open(QUrl(url));
        static_cast<void>(QTest::qWaitFor([&] { return client->state() != QAbstractSocket::ConnectingState; }));
        client->sendTextMessage(uR"({"event":"room:changed","data":{"rooms":["%1"]}})"_s.arg(room));
        return client;
    }
};

QTEST_MAIN(TestInstanceGroup)
#include "tst_instancegroup.moc"
