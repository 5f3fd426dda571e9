// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"
#include "picturestore.h"
#include "protocol/clientmessages.h"
#include "testsupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;
using namespace TestSupport;

static QByteArray smallJpeg(bool progressive)
{
    QBuffer buffer;
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    static_cast<void>(writer.write(QImage::fromData(png({16, 16}, Qt::gray))));
    return buffer.data();
}

static qsizetype segment(const QByteArray& jpeg, quint8 marker)
{
    qsizetype at = 2;
    while (quint8(jpeg[at + 1]) != marker)
        at += 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
    return at;
}

// A few hundred bytes, gigabytes to decode when progressive.
static QByteArray jpegBomb(bool progressive, int width, int height)
{
    QByteArray bomb = smallJpeg(progressive);
    const qsizetype frame = segment(bomb, progressive ? 0xC2 : 0xC0);
    const char size[] = {char(height >> 8), char(height), char(width >> 8), char(width)};
    return bomb.replace(frame + 5, 4, size, 4);
}

static QByteArray manyScans(int times)
{
    QByteArray many = smallJpeg(true);
    const qsizetype scans = segment(many, 0xC4);
    const qsizetype end = many.lastIndexOf("\xff\xd9");
    return many.left(scans) + many.mid(scans, end - scans).repeated(times) + many.mid(end);
}

static QJsonDocument json(const QList<QVariant>& signal)
{
    return QJsonDocument::fromJson(signal.at(0).toString().toUtf8());
}

static QByteArray bigEndian(quint32 value)
{
    value = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

static QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : type + data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (crc & 1 ? 0xEDB88320 : 0);
    }
    return bigEndian(quint32(data.size())) + type + data + bigEndian(~crc);
}

static QByteArray textBomb(int megabytes)
{
    const QByteArray text = qCompress(QByteArray(megabytes << 20, 'a'), 9).mid(4);
    const QByteArray picture = png({8, 8}, Qt::darkCyan);
    return picture.left(33) + pngChunk("zTXt", QByteArray("Comment\0\0", 9) + text) + picture.mid(33);
}

static QByteArray pngBomb(int width, int height)
{
    const QByteArray picture = png({8, 8}, Qt::darkCyan);
    const QByteArray header = bigEndian(width) + bigEndian(height) + picture.mid(24, 5);
    return picture.left(8) + pngChunk("IHDR", header) + picture.mid(33);
}

static const QByteArray UPGRADE = "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

class TestImageServer : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_storage;
    ServerOptions m_options;
    std::unique_ptr<ImageServer> m_server;
    QString m_url;
    QNetworkAccessManager m_network;
    const QByteArray m_bearer = "Bearer v1ew";
    const Fields m_form{
        {"key", "s3cret"}, {"room", "r1"}, {"message", "Bonjour à tous"}, {"picture", png({8, 8}, Qt::darkCyan)}};

private slots:
    void init()
    {
        QVERIFY(TestCertificates::trustInProcess());
        m_options = ServerOptions();
        m_options.tls = TestCertificates::instance().serverConfiguration();
        m_options.storage = m_storage.emplace().path();
        m_options.uploadKey = "s3cret";
        m_options.viewKey = "v1ew";
        m_options.decoderProgram = QStringLiteral(GLIMDECK_SERVER_EXECUTABLE);
        m_options.maxUploadBytes = 64 * 1024;
        m_options.headTimeoutMs = 2000;
        m_options.idleTimeoutMs = 1000;
        m_options.evictAfterMs = 0;
        startServer();
    }

    void roomsDecideWhoGetsAPhoto()
    {
        const QStringList lists{"r1", "r2", "r2,r1", "r1\nFAUX"};
        LogCapture log;
        std::vector<std::unique_ptr<QWebSocket>> clients;
        QList<int> photos(lists.size());
        for (int i = 0; i < lists.size(); ++i) {
            clients.push_back(connectClient(lists[i].split(u',')));
            connect(clients[i].get(), &QWebSocket::textMessageReceived, this, [&photos, i] { ++photos[i]; });
        }
        clients[0]->sendTextMessage("pas du\nJSON");
        clients[0]->sendTextMessage(ClientMessages::roomsText({"r2"}));
        QTRY_COMPARE(log.countStartingWith("Message ignoré de"), 1);
        QTRY_COMPARE(log.countStartingWith("Abonnement de"), 5);
        QCOMPARE(log.lines().filter(": 1 groupes : \"r1\\u000aFAUX\"").size(), 1);
        QVERIFY(log.lines().filter("\n").isEmpty());
        QCOMPARE(upload(m_form).status, 200);
        const QList<int> once{0, 0, 1, 0};
        QTRY_COMPARE(photos, once);
        clients[0]->sendTextMessage(QString(4097, u'x'));
        QTRY_COMPARE(get("/users").body, "3"_ba);
        QVERIFY(connectClient({}, "/", u"https://localhost:%1"_s.arg(m_server->port()))->isValid());
        QVERIFY(!connectClient({}, "/", "https://elsewhere.example")->isValid());
        QVERIFY(!connectClient({}, "/elsewhere")->isValid());
        QCOMPARE(photos, once);
    }

    void uploadsAreRefused_data()
    {
        QTest::addColumn<Fields>("form");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("wrong key") << with("key", "s3cres") << 403 << "refusée"_ba;
        QTest::newRow("not a picture") << with("picture", "<html>") << 415 << "pas une image"_ba;
        QTest::newRow("no message") << with("message", {}) << 400 << "manquant : message"_ba;
        QTest::newRow("room of 11") << with("room", "abcdefghijk") << 400 << "de 1 à 10"_ba;
        QTest::newRow("too big") << with("picture", QByteArray(100000, 'x')) << 413 << "trop"_ba;
        QTest::newRow("progressive 8000 × 8000")
            << with("picture", jpegBomb(true, 8000, 8000)) << 415 << "8000 × 8000 pixels"_ba;
        QTest::newRow("baseline claims 10000 × 10000")
            << with("picture", jpegBomb(false, 10000, 10000)) << 415 << "JPEG tronqué"_ba;
        QTest::newRow("PNG claims 4096 × 4096") << with("picture", pngBomb(4096, 4096)) << 415 << "PNG tronqué"_ba;
        QTest::newRow("progressive scans") << with("picture", manyScans(12)) << 415 << "trop de passes"_ba;
        QTest::newRow("PNG text bomb") << with("picture", textBomb(32)) << 415 << "métadonnées trop volumineuses"_ba;
    }

    void uploadsAreRefused()
    {
        QFETCH(Fields, form);
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        auto client = connectClient({"r1"});
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        const Reply reply = upload(form);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.body.contains(reason), reply.body.constData());
        QCOMPARE(storedFiles(), QStringList());
        QVERIFY(!received.wait(100));
    }

    void uploadsAreReencoded_data()
    {
        QTest::addColumn<QByteArray>("picture");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QSize>("size");
        QBuffer withAlpha;
        QVERIFY(
            QImage::fromData(png({40, 20}, Qt::red)).convertToFormat(QImage::Format_ARGB32).save(&withAlpha, "PNG"));
        QTest::newRow("progressive") << smallJpeg(true) << "image/jpeg"_ba << QSize(16, 16);
        QTest::newRow("4000 wide") << png({4000, 100}, Qt::red) << "image/jpeg"_ba << QSize(3840, 96);
        QTest::newRow("alpha channel") << withAlpha.data() << "image/png"_ba << QSize(40, 20);
    }

    void uploadsAreReencoded()
    {
        QFETCH(QByteArray, picture);
        QFETCH(QByteArray, type);
        QFETCH(QSize, size);
        auto client = connectClient({"r1"});
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        QCOMPARE(upload(with("picture", picture).mid(1), {{"X-Upload-Key", "s3cret"}}).status, 200);
        QCOMPARE(storedFiles().size(), 1);
        QTRY_COMPARE(received.size(), 1);
        const QJsonValue photo = json(received.at(0))["data"];
        QCOMPARE(photo[u"message"_s].toString(), u"Bonjour à tous"_s);
        QCOMPARE(photo[u"room"_s].toString(), u"r1"_s);
        QCOMPARE(QDateTime::fromString(photo[u"time"_s].toString(), Qt::ISODateWithMs).timeSpec(), Qt::UTC);
        const Reply served = get(photo["image"].toString());
        QCOMPARE(served.contentType, type);
        QCOMPARE(QImage::fromData(served.body).size(), size);
    }

    void missedPhotosComeBackBounded_data()
    {
        QTest::addColumn<QJsonObject>("known");
        QTest::addColumn<int>("missed");
        QTest::newRow("no ids named") << QJsonObject() << 0;
        QTest::newRow("older than every photo: the newest 20") << QJsonObject{{"r1", 0}} << 20;
        QTest::newRow("a room not followed") << QJsonObject{{"r2", 0}} << 0;
    }

    void missedPhotosComeBackBounded()
    {
        QFETCH(QJsonObject, known);
        QFETCH(int, missed);
        for (int i = 0; i < 25; ++i) // more than may wait unsent
            m_server->hub().broadcast("r1", u"/images/%1.png"_s.arg(i), QString(500, u'é'));
        auto client = connectClient({"r1"});
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        client->sendTextMessage(ClientMessages::missedRequestText(known));
        QTRY_VERIFY(received.size() > missed);
        QStringList images;
        QStringList expected;
        for (int i = 0; i < missed; ++i) {
            const QJsonValue photo = json(received.at(i))["data"];
            QVERIFY(photo["missed"].toBool());
            images.append(photo["image"].toString());
            expected.append(u"/images/%1.png"_s.arg(25 - missed + i));
        }
        QCOMPARE(images, expected);
        const QJsonDocument done = json(received.last());
        QCOMPARE(done[u"event"_s].toString(), u"photos:missed-done"_s);
        QCOMPARE(done[u"data"_s][u"count"_s].toInt(), missed);
    }

    void silentAndDeafConnectionsAreDropped()
    {
        m_options.maxConnectionsPerAddress = 16;
        m_options.pingIntervalMs = 200;
        startServer();
        QSslSocket silent[40];
        QSslSocket cut[40];
        int aborted = 0;
        for (int i = 0; i < 40; ++i) {
            silent[i].connectToHost(QHostAddress::LocalHost, m_server->port());
            connect(&cut[i], &QSslSocket::connected, this, [&cut, &aborted, i] {
                cut[i].abort();
                ++aborted;
            });
            cut[i].connectToHostEncrypted("localhost", m_server->port());
        }
        QTRY_COMPARE(aborted, 40);
        SilentProxy proxy(m_server->port());
        std::vector<std::unique_ptr<QWebSocket>> clients(15);
        std::generate(clients.begin(), clients.end(), [this] { return connectClient({}); });
        clients.push_back(connectClient({}, "/", {}, proxy.listen() ? proxy.port() : 1));
        QCOMPARE(get("/users").status, 429);
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, m_server->port());
        QTRY_COMPARE_WITH_TIMEOUT(late.state(), QAbstractSocket::UnconnectedState, 10000);
        proxy.silenceOpenLinks();
        QTRY_COMPARE_WITH_TIMEOUT(get("/users").body, "15"_ba, 5000);
    }

    void connectionsPastTheTotalAreNotAnswered()
    {
        m_options.maxConnections = 2;
        startServer();
        auto first = connectClient({});
        auto second = connectClient({});
        QCOMPARE(get("/users").status, 0);
        first.reset();
        QTRY_COMPARE(get("/users").body, "1"_ba);
    }

    void aFullAddressMakesWayWithItsOwnConnections()
    {
        m_options.maxConnectionsPerAddress = 4;
        m_options.headTimeoutMs = 10000;
        startServer();
        QTcpSocket other;
        QVERIFY(other.bind(QHostAddress(u"127.0.0.2"_s)));
        other.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(other.waitForConnected());
        // Each request is answered after the server took the silent connection opened before it.
        QCOMPARE(get("/users").status, 200);
        QTcpSocket silent[5];
        for (QTcpSocket& socket : silent) {
            socket.connectToHost(QHostAddress::LocalHost, m_server->port());
            QVERIFY(socket.waitForConnected());
            QCOMPARE(get("/users").status, 200);
        }
        QTRY_COMPARE(silent[0].state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(other.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(silent[4].state(), QAbstractSocket::ConnectedState);
    }

    void picturesPastTheQuotaAreNotStored()
    {
        m_options.quotaBytes = 100;
        startServer();
        QCOMPARE(upload(m_form).status, 413);
        QCOMPARE(storedFiles(), QStringList());
    }

    void headsSentBeforeTheServerTakesTheirConnectionsAreRead()
    {
        m_options.plain = true;
        startServer();
        QTcpSocket sockets[200];
        for (int i = 0; i < 200; ++i) {
            // Connected and written while the server's loop sleeps, as a proxy's burst arrives.
            sockets[i].connectToHost(QHostAddress::LocalHost, m_server->port());
            QVERIFY(sockets[i].waitForConnected());
            sockets[i].write("GET /users HTTP/1.1\r\nAuthorization: " + m_bearer + "\r\nX-Real-IP: 203.0.113."
                             + QByteArray::number(i) + "\r\n\r\n");
            QVERIFY(sockets[i].waitForBytesWritten());
        }
        for (QTcpSocket& socket : sockets) {
            QTRY_VERIFY_WITH_TIMEOUT(socket.bytesAvailable() > 0, 5000);
            QVERIFY(socket.readAll().startsWith("HTTP/1.1 200 "));
        }
    }

    void bodiesHaveABudgetAndADeadline()
    {
        m_options.plain = true;
        m_options.bodyTimeoutMs = 1500;
        startServer();
        const QByteArray announce = "POST /upload HTTP/1.1\r\nX-Upload-Key: s3cret\r\nContent-Length: 65536\r\n"
                                    "X-Real-IP: 203.0.113.";
        QTcpSocket trickle;
        QTcpSocket again;
        QTcpSocket other;
        for (QTcpSocket* socket : {&trickle, &again, &other})
            socket->connectToHost(QHostAddress::LocalHost, m_server->port());
        trickle.write(announce + "7\r\n\r\n");
        again.write(announce + "7\r\n\r\n");
        other.write(announce + "8\r\n\r\n");
        QTRY_VERIFY(again.bytesAvailable() > 0);
        QVERIFY(again.readAll().startsWith("HTTP/1.1 503 "));
        QTimer steady; // never idle
        connect(&steady, &QTimer::timeout, &trickle, [&trickle] { trickle.write("-"); });
        steady.start(200);
        QTRY_COMPARE_WITH_TIMEOUT(trickle.state(), QAbstractSocket::UnconnectedState, 4000);
        QCOMPARE(other.bytesAvailable(), 0);
    }

    void uploadsAreRatedPerAddress()
    {
        m_options.plain = true; // a proxy's headers come over plain HTTP
        m_options.uploadsPerMinute = 1;
        m_options.trustedProxy = QHostAddress("127.0.0.2");
        startServer();
        QCOMPARE(uploadFrom("203.0.113.4"), 200);
        QCOMPARE(uploadFrom("203.0.113.5"), 429);
        m_options.trustedProxy = QHostAddress(QHostAddress::LocalHost);
        startServer();
        LogCapture log;
        QCOMPARE(uploadFrom("2001:db8::1"), 200);
        QCOMPARE(uploadFrom("2001:db8::2"), 429);
        QCOMPARE(uploadFrom("2001:db8:0:1::1"), 200);
        QCOMPARE(uploadFrom("203.0.113.6", {{"X-Upload-Key", "s3cres"}}), 403);
        QCOMPARE(uploadFrom("203.0.113.6"), 429);
        QCOMPARE(upload(m_form.mid(1) + m_form.mid(0, 1), {{"X-Real-IP", "203.0.113.3"}}).status, 403);
        QCOMPARE(uploadFrom("203.0.113.1"), 200);
        QCOMPARE(upload(m_form, {{"X-Forwarded-For", "203.0.113.1, 203.0.113.2"}}).status, 200);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(uploadFrom("203.0.113.1"), 429);
        QCOMPARE(log.countStartingWith("Limite atteinte pour 203.0.113.1"), 1);
    }

    void webSocketsThatTakeWithoutGiving_data()
    {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<int>("everyMs");
        QTest::addColumn<int>("pingMs");
        QTest::addColumn<QString>("reason");
        const QByteArray ping = QByteArray::fromHex("8982000000007031");
        const QByteArray longPing = QByteArray("\x89\xfd", 2) + QByteArray(4, '\0') + QByteArray(125, 'p');
        QTest::newRow("ping flood") << ping.repeated(64) << 0 << 30000 << u"trop de messages"_s;
        QTest::newRow("pongs left unread") << longPing.repeated(512) << 50 << 30000 << u"trop de données en attente"_s;
        QTest::newRow("pongs nobody asked for")
            << QByteArray::fromHex("8a82000000007031") << 50 << 300 << u"pas de réponse au ping"_s;
    }

    void webSocketsThatTakeWithoutGiving()
    {
        QFETCH(QByteArray, frames);
        QFETCH(int, everyMs);
        QFETCH(int, pingMs);
        QFETCH(QString, reason);
        m_options.pingIntervalMs = pingMs;
        startServer();
        LogCapture log;
        // What the server sends soon waits on its side.
        const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        const int smallBuffer = 4096;
        ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(m_server->port());
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(descriptor, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
        QSslSocket socket;
        socket.setReadBufferSize(1);
        QVERIFY(socket.setSocketDescriptor(descriptor));
        socket.setPeerVerifyName("localhost");
        socket.startClientEncryption();
        socket.write(UPGRADE + "Authorization: " + m_bearer + "\r\n\r\n");
        QTRY_COMPARE(get("/users").body, "1"_ba);
        QTimer sending;
        connect(&sending, &QTimer::timeout, &socket, [&socket, &frames] { socket.write(frames); });
        sending.start(everyMs);
        QTRY_COMPARE_WITH_TIMEOUT(log.lines().filter(u"déconnecté : "_s + reason).size(), 1, 10000);
        QCOMPARE(get("/users").body, "0"_ba);
    }

    void rawRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("end");
        const auto row = [](const char* name, const QByteArray& request, const QByteArray& start,
                            const QByteArray& end) { QTest::newRow(name) << request << start << end; };
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray missing = "HTTP/1.1 404 ";
        const QByteArray gone = "\r\n\r\nIntrouvable.\n";
        const QByteArray unauthorized = "HTTP/1.1 401 ";
        const QByteArray locked = "\r\n\r\nClé de lecture nécessaire.\n";
        row("HEAD", "HEAD /users HTTP/1.1\r\nAuthorization: Bearer v1ew\r\n\r\n", ok,
            "Content-Length: 1\r\nConnection: keep-alive\r\n\r\n");
        row("bare LF, any case", "GET /users HTTP/1.1\nHost: localhost\nauthorization: bearer  v1ew \n\n", ok,
            "Connection: keep-alive\r\n\r\n0");
        row("HTTP/1.0", "GET /users HTTP/1.0\r\nAuthorization: Bearer v1ew\r\n\r\n", ok, "Connection: close\r\n\r\n0");
        row("longer key", "GET /users HTTP/1.1\r\nAuthorization: Bearer v1ewv1ew\r\n\r\n", unauthorized, locked);
        row("not a bearer", "GET /users HTTP/1.1\r\nAuthorization: Basic v1ew\r\n\r\n", unauthorized, locked);
        row("WebSocket without key", UPGRADE + "\r\n", unauthorized, locked);
        row("body cut short", "POST /upload HTTP/1.1\r\nContent-Length: 10\r\n\r\n123456789", {}, {});
        row("out of the folder", "GET /images/%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n", missing, gone);
        row("no such picture", "GET /images/00000000000000000000000000000000.png HTTP/1.1\r\n\r\n", missing, gone);
        row("kept for the next request",
            "GET /users HTTP/1.1\r\nAuthorization: Bearer v1ew\r\n\r\nGET /nothing HTTP/1.1\r\nConnection: "
            "close\r\n\r\n",
            ok, gone);
        row("WebSocket, bare LF", QByteArray(UPGRADE).replace("\r\n", "\n") + "Authorization: Bearer v1ew\n\n",
            "HTTP/1.1 400 ", "CRLF attendues.\n");
    }

    void rawRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        QSslSocket socket;
        socket.connectToHostEncrypted("localhost", m_server->port());
        socket.write(request);
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        const QByteArray response = socket.readAll();
        QVERIFY2(response.startsWith(start), response.constData());
        QVERIFY2(response.endsWith(end), response.constData());
    }

    void oldestPicturesGoFirst()
    {
        for (const auto& [name, age] : {std::pair{"a.jpg", 7200}, {"b.jpg", 1800}, {"c.png", 1200}, {"d.jpg", 600}}) {
            QFile file(m_storage->filePath(QLatin1String(name)));
            QVERIFY(file.open(QFile::WriteOnly));
            QVERIFY(file.resize(1000));
            QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-age), QFile::FileModificationTime));
        }
        PictureStore store(m_storage->path(), 1, 2500);
        QCOMPARE(storedFiles(), QStringList({u"c.png"_s, u"d.jpg"_s}));
        const QString path = store.store({QByteArray(1000, 'x'), "jpg", {}});
        QStringList kept{"d.jpg", path.mid(8)};
        kept.sort();
        QCOMPARE(storedFiles(), kept);
    }

    void pictureAddressesAreRandom()
    {
        PictureStore store(m_storage->path(), 1, 1 << 20);
        QList<QSet<QChar>> digits(32);
        for (int i = 0; i < 64; ++i) {
            const QString name = store.store({"x", "jpg", {}}).mid(8, 32);
            for (int at = 0; at < 32; ++at)
                digits[at].insert(name.at(at));
        }
        for (const QSet<QChar>& seen : std::as_const(digits))
            QCOMPARE_GT(seen.size(), 4);
    }

    void badOptionsExitNonZero()
    {
        for (const char* bad :
             {"", "--no-tls", "--no-tls --open-uploads --max-upload-bytes=abc", "--no-tls --open-uploads --port=70000",
              "--no-tls --open-uploads --quota-mib=0", "--no-tls --open-uploads --listen=0.0.0.0",
              "--no-tls --open-uploads --view-key-file=/nonexistent"}) {
            QProcess server; // port 1: nobody uses it
            server.startCommand(QStringLiteral("\"" GLIMDECK_SERVER_EXECUTABLE "\" --port=1 ") + QLatin1String(bad));
            QVERIFY2(server.waitForFinished(), bad);
            QVERIFY2(server.exitCode() == 2, bad);
            QVERIFY2(!server.readAllStandardError().isEmpty(), bad);
        }
    }

private:
    QStringList storedFiles() const { return QDir(m_storage->path()).entryList(QDir::Files); }

    void startServer()
    {
        m_server = std::make_unique<ImageServer>(m_options);
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        m_url = u"%1://localhost:%2"_s.arg(m_options.plain ? "http"_L1 : "https"_L1).arg(m_server->port());
    }

    Reply get(const QString& path)
    {
        QNetworkRequest request(QUrl(m_url + path));
        request.setRawHeader("Authorization", m_bearer);
        return finish(m_network.get(request));
    }

    Fields with(const QByteArray& name, const QByteArray& value) const
    {
        Fields form = m_form;
        for (auto& field : form) {
            if (field.first == name)
                field.second = value;
        }
        return form;
    }

    Reply upload(Fields fields, Fields headers = {})
    {
        for (Fields* list : {&fields, &headers})
            list->removeIf([](const auto& field) { return field.second.isNull(); });
        return post(m_network, QUrl(m_url + u"/upload"_s), fields, headers);
    }

    int uploadFrom(const QByteArray& address, const Fields& headers = {})
    {
        return upload(m_form, Fields{{"X-Real-IP", address}} + headers).status;
    }

    std::unique_ptr<QWebSocket> connectClient(const QStringList& rooms, const QString& path = "/",
                                              const QString& origin = {}, quint16 port = 0)
    {
        auto client = std::make_unique<QWebSocket>(origin);
        QNetworkRequest request(QUrl(u"wss://localhost:%1%2"_s.arg(port ? port : m_server->port()).arg(path)));
        request.setRawHeader("Authorization", m_bearer);
        client->open(request);
        static_cast<void>(QTest::qWaitFor([&] { return client->state() != QAbstractSocket::ConnectingState; }));
        client->sendTextMessage(ClientMessages::roomsText(QJsonArray::fromStringList(rooms)));
        return client;
    }
};

QTEST_MAIN(TestImageServer)
#include "tst_imageserver.moc"
