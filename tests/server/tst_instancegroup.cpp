// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "protocol/clientmessages.h"
#include "settings/roomlistfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

class TestInstanceGroup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_redis;
    QProcess m_nginx;
    std::unique_ptr<ImageServer> m_servers[2];
    static constexpr int RECONNECT_DIVISOR = 10;
    QNetworkAccessManager m_network;
    std::optional<LogCapture> m_log; // after the test installs its handler

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
            options.storage = m_dir.filePath("images");
            options.openUploads = true;
            options.decoderProgram = QStringLiteral(GLIMDECK_SERVER_EXECUTABLE);
            options.redis = m_dir.filePath("redis.sock");
            options.redisInstance = u"instance"_s + QString::number(i);
            m_servers[i] = std::make_unique<ImageServer>(options);
            QVERIFY(m_servers[i]->listen(QHostAddress::LocalHost, 0));
        }
        const Ports upstreams{{":8081", m_servers[0]->port()}, {":8082", m_servers[1]->port()}};
        // The clients reconnect until it listens.
        QVERIFY2(startNginx(m_nginx, m_dir.filePath("nginx"), QStringLiteral(GLIMDECK_NGINX_SITE),
                            TestCertificates::instance().path(), QUrl(HTTPS_BASE_URL).port(), upstreams),
                 "nginx is needed (Debian: nginx-light)");
        QTRY_COMPARE(m_log->countStartingWith("Redis joint"), 2);
    }

    void cleanupTestCase() { stopAll({&m_nginx, &m_redis}); }

    void photosCountsAndCatchUpCrossInstances()
    {
        std::vector<std::unique_ptr<WebSocketClient>> clients;
        std::vector<std::unique_ptr<QSignalSpy>> received;
        for (int i = 0; i < 2; ++i) {
            clients.push_back(std::make_unique<WebSocketClient>(QUrl(WS_BASE_URL), RECONNECT_DIVISOR, nullptr));
            received.push_back(std::make_unique<QSignalSpy>(clients[i].get(), &WebSocketClient::imageReceived));
            QTRY_COMPARE(m_servers[0]->hub().clientCount() + m_servers[1]->hub().clientCount(), i + 1);
        }
        QCOMPARE(m_servers[0]->hub().clientCount(), 1);
        QTRY_COMPARE(get("/users", 0), "2"_ba);

        QCOMPARE(upload("famille", 0), 200);
        QTRY_COMPARE(received[1]->size(), 1);
        QCOMPARE(upload("famille", 0), 200);
        QTRY_COMPARE(received[1]->size(), 2);
        QTRY_COMPARE(received[0]->size(), 2);
        const QString image = QUrl(received[0]->first().first().toString()).path();
        QCOMPARE(QUrl(received[1]->first().first().toString()).path(), image);
        QCOMPARE(get(image, 1), get(image, 0));
        QVERIFY(!get(image, 1).isEmpty());

        m_redis.kill();
        m_redis.waitForFinished();
        QTRY_COMPARE(m_log->countStartingWith("Redis perdu"), 2);
        startRedis();
        QTRY_COMPARE_WITH_TIMEOUT(m_log->countStartingWith("Redis joint"), 4, 20000);
        QCOMPARE(upload("famille", 0), 200);
        QTRY_COMPARE(received[1]->size(), 3);

        QCOMPARE(upload("bureau", 0), 200);
        QWebSocket late;
        QSignalSpy lateReceived(&late, &QWebSocket::textMessageReceived);
        late.open(QUrl(u"ws://127.0.0.1:%1/"_s.arg(m_servers[1]->port())));
        QTRY_COMPARE(late.state(), QAbstractSocket::ConnectedState);
        late.sendTextMessage(ClientMessages::roomsText({"bureau"}));
        late.sendTextMessage(ClientMessages::missedRequestText({{"bureau", 0}}));
        QTRY_COMPARE(lateReceived.size(), 2);
        QCOMPARE(QJsonDocument::fromJson(lateReceived.last().first().toString().toUtf8())["data"][u"count"_s].toInt(),
                 1);

        m_servers[0].reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_servers[1]->hub().clientCount(), 3, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(get("/users", 1), "3"_ba, 15000);
        QCOMPARE(upload("famille", 1), 200);
        QTRY_COMPARE(received[0]->size(), 4);
        QTRY_COMPARE(received[1]->size(), 4);
    }

private:
    void startRedis()
    {
        m_redis.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_redis.setStandardOutputFile(QProcess::nullDevice());
        m_redis.start(QStandardPaths::findExecutable("redis-server", {"/usr/bin", "/usr/sbin"}),
                      {"--port", "0", "--unixsocket", m_dir.filePath("redis.sock"), "--save", "", "--appendonly", "no",
                       "--daemonize", "no"});
        QVERIFY2(m_redis.waitForStarted(10000), "redis-server is needed (Debian: redis-server)");
    }

    QUrl url(const QString& path, int server) const
    {
        return QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_servers[server]->port()).arg(path));
    }

    QByteArray get(const QString& path, int server)
    {
        return finish(m_network.get(QNetworkRequest(url(path, server)))).body;
    }

    int upload(const QString& room, int server)
    {
        const Fields form{{"room", room.toUtf8()}, {"message", "Bonjour"}, {"picture", png({8, 8}, Qt::red)}};
        return post(m_network, url("/upload", server), form).status;
    }
};

QTEST_MAIN(TestInstanceGroup)
#include "tst_instancegroup.moc"
