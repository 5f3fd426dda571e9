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

// A small picture of a few scans, progressive when asked.
static QByteArray smallJpeg(bool progressive)
{
    QBuffer buffer;
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    static_cast<void>(writer.write(QImage::fromData(png({16, 16}, Qt::gray))));
    return buffer.data();
}

// Where the JPEG's first segment of the given marker starts.
static qsizetype segment(const QByteArray& jpeg, quint8 marker)
{
    qsizetype at = 2;
    while (quint8(jpeg[at + 1]) != marker)
        at += 2 + (quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]));
    return at;
}

// The JPEG claiming width x height: a few hundred bytes, gigabytes to decode when progressive.
static QByteArray jpegBomb(bool progressive, int width, int height)
{
    QByteArray bomb = smallJpeg(progressive);
    const qsizetype frame = segment(bomb, progressive ? 0xC2 : 0xC0);
    const char size[] = {char(height >> 8), char(height), char(width >> 8), char(width)};
    return bomb.replace(frame + 5, 4, size, 4);
}

// Its scans, and the tables between them, played over and over.
static QByteArray manyScans(int times)
{
    QByteArray many = smallJpeg(true);
    const qsizetype scans = segment(many, 0xC4);
    const qsizetype end = many.lastIndexOf("\xff\xd9");
    return many.left(scans) + many.mid(scans, end - scans).repeated(times) + many.mid(end);
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

// A PNG whose comment inflates to megabytes of text inside the decoder.
static QByteArray textBomb(int megabytes)
{
    const QByteArray text = qCompress(QByteArray(megabytes << 20, 'a'), 9).mid(4); // a zlib stream
    const QByteArray picture = png({8, 8}, Qt::darkCyan);
    return picture.left(33) + pngChunk("zTXt", QByteArray("Comment\0\0", 9) + text) + picture.mid(33);
}

// A PNG of 8 x 8 pixels whose header claims width x height.
static QByteArray pngBomb(int width, int height)
{
    const QByteArray picture = png({8, 8}, Qt::darkCyan);
    const QByteArray header = bigEndian(width) + bigEndian(height) + picture.mid(24, 5);
    return picture.left(8) + pngChunk("IHDR", header) + picture.mid(33);
}

// The server through real sockets: WebSocket clients and HTTPS requests on loopback.
class TestImageServer : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_storage;
    ServerOptions m_options;
    std::unique_ptr<ImageServer> m_server;
    QString m_url;
    QNetworkAccessManager m_network;
    const QByteArray m_bearer = "Bearer v1ew";
    // The key comes first: the server checks it before it takes the rest.
    const Fields m_form{{"key", "s3cret"}, {"room", "r1"}, {"message", "m"}, {"picture", png({8, 8}, Qt::darkCyan)}};

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
        QString fifty = u"r1"_s;
        for (int i = 1; i < ClientMessages::MAX_ROOMS; ++i)
            fifty += u',' + QString::number(i);
        const QStringList lists{u"r1"_s, u"r2"_s, u"r2,r1"_s, u" r1 "_s, fifty, u"r1\nFAUX"_s, fifty + u",x"_s};
        LogCapture log;
        std::vector<std::unique_ptr<QWebSocket>> clients;
        QList<int> photos(lists.size());
        for (int i = 0; i < lists.size(); ++i) {
            clients.push_back(connectClient(lists[i].split(u',')));
            connect(clients[i].get(), &QWebSocket::textMessageReceived, this, [&photos, i] { ++photos[i]; });
        }
        // Not a list of rooms: ignored, the connection kept. A new list replaces the old one.
        for (const char* text : {"pas du\nJSON", R"({"event":"room:changed","data":{"rooms":["r2"]}})"})
            clients[0]->sendTextMessage(QString::fromUtf8(text));
        QTRY_VERIFY(log.countStartingWith("Message ignoré de") == 2 && log.countStartingWith("Abonnement de") == 7);
        QCOMPARE(log.lines().filter(u": 1 groupes : \"r1\\u000aFAUX\""_s).size(), 1);
        QVERIFY(log.lines().filter(u"\n"_s).isEmpty());
        QCOMPARE(upload(m_form).status, 200);
        const QList<int> once{0, 0, 1, 1, 1, 0, 0}; // " r1 " trimmed; the last list refused whole
        QTRY_COMPARE(photos, once);
        clients[0]->sendTextMessage(QString(ServerLimits::MAX_INCOMING_MESSAGE_BYTES + 1, u'x'));
        QTRY_COMPARE(get(u"/users"_s).body, QByteArray("6"));
        // WebSockets are on the root only, for pages of this server or none.
        QVERIFY(connectClient({}, u"/"_s, u"https://localhost:%1"_s.arg(m_server->port()))->isValid());
        QVERIFY(!connectClient({}, u"/"_s, u"https://elsewhere.example"_s)->isValid());
        QVERIFY(!connectClient({}, u"/elsewhere"_s)->isValid());
        QCOMPARE(photos, once); // none late
    }

    void uploadsAreCheckedAndReencoded_data()
    {
        QTest::addColumn<QByteArrayList>("form");
        const auto row = [](const char* name, const QByteArrayList& form) { QTest::newRow(name) << form; };
        const QImage alpha = QImage::fromData(png({40, 20}, Qt::red)).convertToFormat(QImage::Format_ARGB32);
        QBuffer jpeg, withAlpha;
        QVERIFY(alpha.save(&jpeg, "JPEG") && alpha.save(&withAlpha, "PNG"));
        // As a phone writes it: EXIF orientation "turn a quarter" (6), a position in a comment; then junk.
        const char phone[] = "\xff\xe1\0\042Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
                             "\xff\xfe\0\x18GPS 48.8584 N 2.2945 E";
        const QByteArray p = m_form[3].second, r = "r1", m = "Bonjour à tous", k = "s3cret",
                         photo = QByteArray(jpeg.data()).insert(2, phone, sizeof phone - 1) + "junk";
        row("no key", {"403", r, m, p});
        row("wrong key", {"403", r, m, p, "s3cres"});
        row("wrong header, right field", {"403", r, m, p, k, "nope"});
        row("not a picture", {"415", r, m, "<html>", k});
        row("no room", {"400", {}, m, p, k});
        row("no picture", {"400", r, m, {}, k});
        row("no message", {"400", r, {}, p, k});
        row("room of 11", {"400", "abcdefghijk", m, p, k});
        row("too big", {"413", r, m, QByteArray(100000, 'x'), k});
        row("progressive bomb", {"415", r, m, jpegBomb(true, 30000, 30000), k, {}, "30000 × 30000 pixels"});
        row("progressive 8000 × 8000", {"415", r, m, jpegBomb(true, 8000, 8000), k, {}, "8000 × 8000 pixels"});
        row("baseline claims 10000 × 10000", {"415", r, m, jpegBomb(false, 10000, 10000), k, {}, "JPEG tronqué"});
        row("PNG claims 4096 × 4096", {"415", r, m, pngBomb(4096, 4096), k, {}, "PNG tronqué"});
        row("progressive scans", {"415", r, m, manyScans(12), k, {}, "trop de passes"});
        row("PNG text bomb", {"415", r, m, textBomb(32), k, {}, "métadonnées trop volumineuses"});
        row("progressive", {"200", r, m, smallJpeg(true), {}, k, "image/jpeg", "16", "16"});
        row("phone photo", {"200", r, m, photo, {}, k, "image/jpeg", "20", "40"});
        row("4000 wide", {"200", r, m, png({4000, 100}, Qt::red), {}, k, "image/jpeg", "3840", "96"});
        row("alpha channel", {"200", r, m, withAlpha.data(), {}, k, "image/png", "40", "20"});
    }

    void uploadsAreCheckedAndReencoded()
    {
        // answer, room, message, picture, key, key header; then the served type, width and height of a
        // stored picture, or a part of a refusal's reason
        QFETCH(QByteArrayList, form);
        auto client = connectClient({u"r1"_s});
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        const auto reply =
            upload({{"key", form.value(4)}, {"room", form[1]}, {"message", form[2]}, {"picture", form[3]}},
                   {{"X-Upload-Key", form.value(5)}});
        QVERIFY2(reply.status == form[0].toInt() && !reply.body.isEmpty(), reply.body.constData());
        QCOMPARE(QDir(m_storage->path()).entryList(QDir::Files).size(), reply.status == 200 ? 1 : 0);
        QCOMPARE(!received.isEmpty() || received.wait(reply.status == 200 ? 5000 : 100), reply.status == 200);
        if (reply.status != 200) {
            QVERIFY2(reply.body.contains(form.value(6)), reply.body.constData());
            return;
        }
        const QJsonValue photo = QJsonDocument::fromJson(received.at(0).at(0).toString().toUtf8())[u"data"_s];
        QCOMPARE(photo[u"message"_s].toString(), u"Bonjour à tous"_s);
        QCOMPARE(photo[u"room"_s].toString(), u"r1"_s);
        QCOMPARE(QDateTime::fromString(photo[u"time"_s].toString(), Qt::ISODateWithMs).timeSpec(), Qt::UTC);
        const auto served = get(photo[u"image"_s].toString());
        QCOMPARE(served.contentType, form[6]);
        QCOMPARE(QImage::fromData(served.body).size(), QSize(form[7].toInt(), form[8].toInt()));
        QVERIFY(!served.body.contains("Exif") && !served.body.contains("GPS") && !served.body.contains("junk"));
    }

    void missedPhotosComeBackBounded_data()
    {
        QTest::addColumn<QString>("known"); // what the client names
        QTest::addColumn<int>("missed");
        QTest::newRow("no ids named") << u"{}"_s << 0;
        QTest::newRow("older than every photo: the newest 20") << u"{\"r1\":0}"_s << 20;
        QTest::newRow("a room not followed") << u"{\"r2\":0}"_s << 0;
    }

    void missedPhotosComeBackBounded()
    {
        QFETCH(QString, known);
        QFETCH(int, missed);
        LogCapture log;
        for (int i = 0; i < 25; ++i) // long messages: the answer is larger than what may wait unsent
            m_server->hub().broadcast(u"r1"_s, u"/images/%1.png"_s.arg(i), QString(500, u'é'));
        auto client = connectClient({u"r1"_s});
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        client->sendTextMessage(uR"({"event":"photos:missed-request","data":{"known":%1}})"_s.arg(known));
        QTRY_VERIFY(received.size() > missed);
        QStringList images, expected;
        for (int i = 0; i < missed; ++i) {
            const QJsonValue photo = QJsonDocument::fromJson(received.at(i).at(0).toString().toUtf8())[u"data"_s];
            QVERIFY(photo[u"missed"_s].toBool());
            images.append(photo[u"image"_s].toString());
            expected.append(u"/images/%1.png"_s.arg(25 - missed + i));
        }
        QCOMPARE(images, expected);
        const QJsonDocument done = QJsonDocument::fromJson(received.last().at(0).toString().toUtf8());
        QCOMPARE(done[u"event"_s].toString(), u"photos:missed-done"_s);
        QCOMPARE(done[u"data"_s][u"count"_s].toInt(), missed);
    }

    void limitsAndDeadConnections()
    {
        m_options.maxConnectionsPerAddress = 16;
        m_options.pingIntervalMs = 200;
        startServer();
        QSslSocket silent[40], cut[40]; // connections that never speak, TLS handshakes cut short
        int aborted = 0;
        for (int i = 0; i < 40; ++i) {
            silent[i].connectToHost(QHostAddress::LocalHost, m_server->port());
            connect(&cut[i], &QSslSocket::connected, this, [&cut, &aborted, i] { cut[i].abort(), ++aborted; });
            cut[i].connectToHostEncrypted(u"localhost"_s, m_server->port());
        }
        QTRY_COMPARE(aborted, 40);
        SilentProxy proxy(m_server->port());
        std::vector<std::unique_ptr<QWebSocket>> clients(15);
        std::generate(clients.begin(), clients.end(), [this] { return connectClient({}); });
        clients.push_back(connectClient({}, u"/"_s, {}, proxy.listen() ? proxy.port() : 1));
        LogCapture log; // a seventeenth connection from the address is answered 429, logged once a minute
        for (int i = 0; i < 3; ++i)
            QCOMPARE(get(u"/users"_s).status, 429);
        QCOMPARE(log.countStartingWith(u"Limite atteinte pour 127.0.0.1"_s), 1);
        QTcpSocket late; // silent past its handshake and head deadline: closed
        late.connectToHost(QHostAddress::LocalHost, m_server->port());
        QTRY_COMPARE_WITH_TIMEOUT(late.state(), QAbstractSocket::UnconnectedState, 10000);
        proxy.silenceOpenLinks();                                                 // a WebSocket deaf to pings: dropped
        QTRY_COMPARE_WITH_TIMEOUT(get(u"/users"_s).body, QByteArray("15"), 5000); // and those that answer stay

        m_options.maxConnections = 2; // past this in total, a connection is not answered
        startServer();
        auto first = connectClient({}), second = connectClient({});
        QCOMPARE(get(u"/users"_s).status, 0);
        first.reset();
        QTRY_COMPARE(get(u"/users"_s).body, QByteArray("1"));

        m_options.quotaBytes = 100; // a picture larger than the quota is refused, not stored then deleted
        startServer();
        QCOMPARE(upload(m_form).status, 413);
        QCOMPARE(QDir(m_storage->path()).entryList(QDir::Files), QStringList());
        m_options.quotaBytes = ServerOptions().quotaBytes;

        m_options.plain = true; // behind a proxy on this machine, uploads count for the address it adds last
        m_options.bodyTimeoutMs = 1500;
        m_options.maxConnections = 64;
        startServer();
        const QByteArray announce = "POST /upload HTTP/1.1\r\nX-Upload-Key: s3cret\r\nContent-Length: 65536\r\n";
        QTcpSocket trickle, again, other; // an address holds one largest body at a time, others have theirs
        for (auto [socket, address] : std::initializer_list<std::pair<QTcpSocket*, QByteArray>>{
                 {&trickle, "203.0.113.7"}, {&again, "203.0.113.7"}, {&other, "203.0.113.8"}}) {
            socket->connectToHost(QHostAddress::LocalHost, m_server->port());
            socket->write(announce + "X-Real-IP: " + address + "\r\n\r\n");
        }
        QTRY_VERIFY(again.bytesAvailable() > 0);
        QVERIFY(again.readAll().startsWith("HTTP/1.1 503 "));
        QElapsedTimer steady; // a byte every 200 ms never looks idle, yet the whole body has a deadline
        steady.start();
        while (trickle.state() == QAbstractSocket::ConnectedState && steady.elapsed() < 10000) {
            trickle.write("-");
            QTest::qWait(200);
        }
        QVERIFY2(steady.elapsed() < 3000, QByteArray::number(steady.elapsed()).constData());
        QCOMPARE(other.bytesAvailable(), 0);

        m_options.uploadsPerMinute = 1;
        m_options.trustedProxy = QHostAddress(u"127.0.0.2"_s); // another peer's headers are not believed
        startServer();
        QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.4"}}).status, 200);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.5"}}).status, 429);

        m_options.trustedProxy = QHostAddress(QHostAddress::LocalHost);
        startServer();
        // An IPv6 client counts as its /64; a wrong key is charged as a right one; the key comes first.
        QCOMPARE(upload(m_form, {{"X-Real-IP", "2001:db8::1"}}).status, 200);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "2001:db8::2"}}).status, 429);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "2001:db8:0:1::1"}}).status, 200);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.6"}, {"X-Upload-Key", "s3cres"}}).status, 403);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.6"}}).status, 429);
        QCOMPARE(upload(m_form.mid(1) + m_form.mid(0, 1), {{"X-Real-IP", "203.0.113.3"}}).status, 403);
        QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.1"}}).status, 200);
        QCOMPARE(upload(m_form, {{"X-Forwarded-For", "203.0.113.1, 203.0.113.2"}}).status, 200);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(upload(m_form, {{"X-Real-IP", "203.0.113.1"}}).status, 429);
        QCOMPARE(log.countStartingWith(u"Limite atteinte pour 203.0.113.1"_s), 1);
    }

    void webSocketsThatTakeWithoutGiving_data()
    {
        QTest::addColumn<QByteArray>("frames"); // sent again and again, nothing read
        QTest::addColumn<int>("everyMs");
        QTest::addColumn<int>("pingMs");
        QTest::addColumn<QString>("reason");
        const QByteArray ping = QByteArray::fromHex("8982000000007031"), pong = QByteArray::fromHex("8a82000000007031");
        const QByteArray longPing = QByteArray("\x89\xfd", 2) + QByteArray(4, '\0') + QByteArray(125, 'p');
        QTest::newRow("ping flood") << ping.repeated(64) << 0 << 30000 << u"trop de messages"_s;
        QTest::newRow("pongs left unread") << longPing.repeated(512) << 50 << 30000 << u"trop de données en attente"_s;
        QTest::newRow("pongs nobody asked for") << pong << 50 << 300 << u"pas de réponse au ping"_s;
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
        QSslSocket socket; // what the server sends back waits on its side
        QVERIFY(connectThroughSmallBuffer(socket, 1));
        socket.write("GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     "Authorization: "
                     + m_bearer + "\r\n\r\n");
        QTRY_COMPARE(get(u"/users"_s).body, QByteArray("1"));
        QElapsedTimer sending;
        sending.start();
        while (log.lines().filter(u"déconnecté : "_s).isEmpty() && sending.elapsed() < 10000) {
            socket.write(frames);
            QTest::qWait(everyMs);
        }
        QCOMPARE(log.lines().filter(u"déconnecté : "_s + reason).size(), 1);
        QCOMPARE(get(u"/users"_s).body, QByteArray("0"));
    }

    void rawRequests()
    {
        const QByteArray ok = "HTTP/1.1 200 OK\r\n", missing = "HTTP/1.1 404 ", gone = "\r\n\r\nIntrouvable.\n";
        const QByteArray unauthorized = "HTTP/1.1 401 ", locked = "\r\n\r\nClé de lecture nécessaire.\n";
        for (const auto& [request, start, ending] : std::initializer_list<std::array<QByteArray, 3>>{
                 {"HEAD /users HTTP/1.1\r\nAuthorization: Bearer v1ew\r\n\r\n", ok,
                  "Content-Length: 1\r\nConnection: keep-alive\r\n\r\n"},
                 {"GET /users HTTP/1.1\nHost: localhost\nauthorization: bearer  v1ew \n\n", ok,
                  "Connection: keep-alive\r\n\r\n0"},
                 {"GET /users HTTP/1.0\r\nAuthorization: Bearer v1ew\r\n\r\n", ok, "Connection: close\r\n\r\n0"},
                 {"GET /users HTTP/1.1\r\n\r\n", unauthorized, locked},
                 {"GET /users HTTP/1.1\r\nAuthorization: Bearer v1ewv1ew\r\n\r\n", unauthorized, locked},
                 {"GET /users HTTP/1.1\r\nAuthorization: Basic v1ew\r\n\r\n", unauthorized, locked},
                 {"GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
                  unauthorized, locked},
                 {"POST /upload HTTP/1.1\r\nContent-Length: 10\r\n\r\n123456789", {}, {}},
                 {"GET /images/%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n", missing, gone},
                 {"GET /images/00000000000000000000000000000000.png HTTP/1.1\r\n\r\n", missing, gone},
                 {"GET /nothing HTTP/1.1\r\n\r\n", missing, gone},
                 {"GET /upload HTTP/1.1\r\n\r\n", "HTTP/1.1 405 ", "POST.\n"},
                 // Kept for the next request, answered one after the other.
                 {"GET /users HTTP/1.1\r\nAuthorization: Bearer v1ew\r\n\r\nGET /nothing HTTP/1.1\r\nConnection: "
                  "close\r\n\r\n",
                  ok, gone},
                 // The WebSocket server reads CRLF heads only: a bare LF one would hang there.
                 {"GET / HTTP/1.1\nUpgrade: websocket\nConnection: Upgrade\nSec-WebSocket-Version: 13\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\n\n",
                  "HTTP/1.1 400 ", "CRLF attendues.\n"}}) {
            QSslSocket socket;
            socket.connectToHostEncrypted(u"localhost"_s, m_server->port());
            socket.write(request);
            QTRY_VERIFY2(socket.state() == QAbstractSocket::UnconnectedState, request.constData());
            const QByteArray response = socket.readAll();
            QVERIFY2(response.startsWith(start) && response.endsWith(ending), response.constData());
        }
    }

    void oldestPicturesGoFirst()
    {
        for (const auto& [name, age] : {std::pair{"a.jpg", 7200}, {"b.jpg", 1800}, {"c.png", 1200}, {"d.jpg", 600}}) {
            QFile file(m_storage->filePath(QLatin1String(name)));
            QVERIFY(file.open(QFile::WriteOnly) && file.resize(1000)
                    && file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-age), QFile::FileModificationTime));
        }
        PictureStore store(m_storage->path(), 1, 2500); // one hour, two and a half pictures: the two newest stay
        QCOMPARE(QDir(m_storage->path()).entryList(QDir::Files), QStringList({u"c.png"_s, u"d.jpg"_s}));
        const QString path = store.store({QByteArray(1000, 'x'), u"jpg"_s, {}}); // and a new one pushes c.png out
        QStringList kept{u"d.jpg"_s, path.mid(8)};
        kept.sort();
        QCOMPARE(QDir(m_storage->path()).entryList(QDir::Files), kept);
    }

    // A picture's address is its only secret: every one of its 32 hex digits is random.
    void pictureAddressesAreRandom()
    {
        PictureStore store(m_storage->path(), 1, 1 << 20);
        QList<QSet<QChar>> digits(32);
        for (int i = 0; i < 64; ++i) {
            const QString name = store.store({"x", u"jpg"_s, {}}).mid(8, 32);
            for (int at = 0; at < 32; ++at)
                digits[at].insert(name.at(at));
        }
        for (const QSet<QChar>& seen : std::as_const(digits))
            QCOMPARE_GT(seen.size(), 4);
    }

    void badOptionsExitNonZero()
    {
        for (const char* bad :
             {"", "--no-tls --max-upload-bytes=abc", "--no-tls --max-upload-bytes=-5", "--no-tls --port=70000",
              "--no-tls --quota-mib=0", "--no-tls --listen=0.0.0.0", "--no-tls --upload-key-file=/nonexistent",
              "--no-tls --open-uploads --view-key-file=/nonexistent", "--no-tls"}) {
            QProcess server; // "": no certificate; a server that starts anyway has port 1, which nobody uses
            server.startCommand(QStringLiteral("\"" GLIMDECK_SERVER_EXECUTABLE "\" --port=1 ") + QLatin1String(bad));
            QVERIFY2(server.waitForFinished() && server.exitCode() == 2 && server.readAllStandardError().size(), bad);
        }
    }

private:
    // A client socket whose kernel buffer is small and which reads ahead at most readAhead bytes,
    // so that what the server sends soon waits on the server's side.
    bool connectThroughSmallBuffer(QSslSocket& socket, qint64 readAhead)
    {
        const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        const int smallBuffer = 4096;
        ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &smallBuffer, sizeof smallBuffer);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(m_server->port());
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(descriptor, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            return false;
        socket.setReadBufferSize(readAhead);
        if (!socket.setSocketDescriptor(descriptor))
            return false;
        socket.setPeerVerifyName(u"localhost"_s);
        socket.startClientEncryption();
        return true;
    }

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

    Reply upload(Fields fields, Fields headers = {}) // those with a null value are left out
    {
        for (Fields* list : {&fields, &headers})
            list->removeIf([](const auto& field) { return field.second.isNull(); });
        return post(m_network, QUrl(m_url + u"/upload"_s), fields, headers);
    }

    // A WebSocket client subscribed to the rooms, unconnected when the server refuses it.
    std::unique_ptr<QWebSocket> connectClient(const QStringList& rooms, const QString& path = u"/"_s,
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
