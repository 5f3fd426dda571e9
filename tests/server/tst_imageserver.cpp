#include "imageserver.h"
#include "picturestore.h"
#include "testsupport.h"

#include <algorithm>
#include <memory>

using Fields = QList<QPair<QByteArray, QByteArray>>;

// The server through real sockets: WebSocket clients and HTTPS requests on loopback.
class TestImageServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestCertificates::trustInProcess()); }

    void init()
    {
        QDir(m_storage.path()).removeRecursively();
        m_options = ServerOptions();
        m_options.tls = TestCertificates::instance().serverConfiguration();
        m_options.storage = m_storage.path();
        m_options.maxUploadBytes = 64 * 1024;
        m_options.headTimeoutMs = 2000;
        m_options.idleTimeoutMs = 1000;
        m_options.evictAfterMs = 0;
        startServer();
    }

    void photoGoesToItsRoomOnly()
    {
        auto first = connectClient({QStringLiteral("r1")});
        auto second = connectClient({QStringLiteral("r2")});
        auto both = connectClient({QStringLiteral("r1"), QStringLiteral("r2")});
        QVERIFY(first && second && both);
        QSignalSpy firstGot(first.get(), &QWebSocket::textMessageReceived);
        QSignalSpy secondGot(second.get(), &QWebSocket::textMessageReceived);
        QSignalSpy bothGot(both.get(), &QWebSocket::textMessageReceived);
        QTRY_COMPARE(get(QStringLiteral("/users")).body, QByteArray("3"));

        QCOMPARE(upload({{"room", "r1"}, {"message", "Bonjour à tous"}, {"picture", m_picture}}).status, 200);
        QTRY_COMPARE(firstGot.size(), 1);
        QTRY_COMPARE(bothGot.size(), 1);
        const QJsonObject event = QJsonDocument::fromJson(firstGot.at(0).at(0).toString().toUtf8()).object();
        QCOMPARE(event.value(QStringLiteral("event")).toString(), QStringLiteral("photo:broadcast"));
        const QJsonObject data = event.value(QStringLiteral("data")).toObject();
        QCOMPARE(data.value(QStringLiteral("message")).toString(), QStringLiteral("Bonjour à tous"));
        const QString path = data.value(QStringLiteral("image")).toString();
        QVERIFY(path.startsWith(QLatin1Char('/')));
        const Reply served = get(path);
        QCOMPARE(served.status, 200);
        QCOMPARE(served.contentType, QByteArray("image/jpeg"));
        QCOMPARE(QImage::fromData(served.body).size(), QSize(8, 8));

        // A new list replaces the old one.
        subscribe(*first, {QStringLiteral("r2")});
        QTest::qWait(100);
        QCOMPARE(uploadPicture().status, 200);
        QTRY_COMPARE(bothGot.size(), 2);
        QTest::qWait(100);
        QCOMPARE(firstGot.size(), 1);
        QCOMPARE(secondGot.size(), 0);

        second.reset();
        QTRY_COMPARE(get(QStringLiteral("/users")).body, QByteArray("2"));
    }

    void badInputChangesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Fields>("fields"); // none: a GET
        QTest::addColumn<int>("status");
        const QByteArray p = m_picture;
        const QString up = QStringLiteral("/upload");
        QTest::newRow("not a picture") << up << Fields{{"room", "r1"}, {"message", "m"}, {"picture", "<html>"}} << 415;
        QTest::newRow("no room") << up << Fields{{"message", "m"}, {"picture", p}} << 400;
        QTest::newRow("no picture") << up << Fields{{"room", "r1"}, {"message", "m"}} << 400;
        QTest::newRow("no message") << up << Fields{{"room", "r1"}, {"picture", p}} << 400;
        QTest::newRow("room of 11") << up << Fields{{"room", "abcdefghijk"}, {"message", "m"}, {"picture", p}} << 400;
        QTest::newRow("empty room") << up << Fields{{"room", ""}, {"message", "m"}, {"picture", p}} << 400;
        QTest::newRow("too big") << up
                                 << Fields{{"room", "r1"}, {"message", "m"}, {"picture", QByteArray(100000, 0x7f)}}
                                 << 413;
        QTest::newRow("leaving the storage") << "/images/%2e%2e/%2e%2e/etc/passwd" << Fields{} << 404;
        QTest::newRow("unknown picture") << "/images/00000000000000000000000000000000.png" << Fields{} << 404;
        QTest::newRow("unknown path") << "/nothing" << Fields{} << 404;
        QTest::newRow("upload by GET") << up << Fields{} << 405;
    }

    void badInputChangesNothing()
    {
        QFETCH(QString, path);
        QFETCH(Fields, fields);
        QFETCH(int, status);
        auto client = connectClient({QStringLiteral("r1")});
        QVERIFY(client);
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        const Reply reply = fields.isEmpty() ? get(path) : upload(fields);
        QVERIFY2(reply.status == status, reply.body.constData());
        QVERIFY(!reply.body.isEmpty());
        QTest::qWait(100);
        QCOMPARE(received.size(), 0);
        QCOMPARE(storedFiles(), 0);
    }

    void malformedMessagesKeepTheConnectionOversizedCloseIt()
    {
        auto client = connectClient({});
        QVERIFY(client);
        QSignalSpy disconnected(client.get(), &QWebSocket::disconnected);
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        for (const char* text :
             {"pas du JSON", "[1,2]", "{\"event\":\"room:changed\",\"data\":{\"rooms\":\"r1\"}}", ""})
            client->sendTextMessage(QString::fromUtf8(text));
        subscribe(*client, {QStringLiteral("r1")});
        QTest::qWait(100);
        QCOMPARE(uploadPicture().status, 200);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(disconnected.size(), 0);
        client->sendTextMessage(QString(RoomHub::MAX_INCOMING_MESSAGE_BYTES + 1, QLatin1Char('x')));
        QVERIFY(disconnected.wait(5000));
    }

    void abortedHandshakesDoNotStopAccepting()
    {
        m_options.maxConnectionsPerAddress = 16;
        startServer();
        // Forty connections that never speak, then forty handshakes cut short by the peer.
        std::vector<std::unique_ptr<QTcpSocket>> silent(40);
        for (auto& socket : silent) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, m_server->port());
        }
        int aborted = 0;
        for (int i = 0; i < 40; ++i) {
            auto* cut = new QTcpSocket(this);
            connect(cut, &QTcpSocket::connected, this, [cut, &aborted] {
                cut->write(QByteArray::fromHex("16030100"));
                cut->abort();
                cut->deleteLater();
                ++aborted;
            });
            cut->connectToHost(QHostAddress::LocalHost, m_server->port());
        }
        QTRY_COMPARE(aborted, 40);
        auto client = connectClient({});
        QVERIFY(client);
        QCOMPARE(get(QStringLiteral("/users")).body, QByteArray("1"));
        // Past the deadline for the handshake and head, a silent connection is closed.
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, m_server->port());
        QTRY_COMPARE_WITH_TIMEOUT(late.state(), QAbstractSocket::UnconnectedState, 10000);
    }

    void limitsAnswerTooManyRequests_data()
    {
        QTest::addColumn<bool>("connections");
        QTest::newRow("connections per address") << true;
        QTest::newRow("uploads per minute") << false;
    }

    void limitsAnswerTooManyRequests()
    {
        QFETCH(bool, connections);
        m_options.maxConnectionsPerAddress = connections ? 2 : 64;
        m_options.uploadsPerMinute = connections ? 30 : 1;
        startServer();
        auto first = connectClient({});
        auto second = connectClient({});
        QVERIFY(first && second);
        const auto attempt = [&] {
            return connections ? get(QStringLiteral("/users")).status : uploadPicture().status;
        };
        if (!connections)
            QCOMPARE(attempt(), 200);
        LogCapture log;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(attempt(), 429);
        QCOMPARE(log.countStartingWith(QStringLiteral("Limite atteinte pour 127.0.0.1")), 1);
        if (connections) {
            first.reset();
            QTRY_COMPARE(attempt(), 200);
        }
    }

    void connectionsInTotalAreBounded()
    {
        m_options.maxConnections = 2;
        startServer();
        auto first = connectClient({});
        auto second = connectClient({});
        QVERIFY(first && second);
        QCOMPARE(get(QStringLiteral("/users")).status, 0);
        first.reset();
        QTRY_COMPARE(get(QStringLiteral("/users")).body, QByteArray("1"));
    }

    void subscriptionRules_data()
    {
        QTest::addColumn<QStringList>("rooms");
        QTest::addColumn<bool>("receives");
        QStringList many{QStringLiteral("r1")};
        for (int i = 1; i < RoomHub::MAX_ROOMS; ++i)
            many.append(QString::number(i));
        QTest::newRow("trimmed") << QStringList{QStringLiteral(" r1 ")} << true;
        QTest::newRow("50 rooms") << many << true;
        QTest::newRow("51 rooms") << many + QStringList{QStringLiteral("x")} << false;
        QTest::newRow("room of 11 characters")
            << QStringList{QStringLiteral("r1"), QStringLiteral("abcdefghijk")} << false;
        QTest::newRow("blank room") << QStringList{QStringLiteral("r1"), QStringLiteral("  ")} << false;
    }

    void subscriptionRules()
    {
        QFETCH(QStringList, rooms);
        QFETCH(bool, receives);
        QSignalSpy subscribed(&m_server->hub(), &RoomHub::subscriptionChanged);
        auto client = connectClient(rooms);
        QVERIFY(client);
        QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
        const auto arrives = [receives](QSignalSpy& spy) { return !spy.isEmpty() || spy.wait(receives ? 5000 : 300); };
        QCOMPARE(arrives(subscribed), receives);
        QCOMPARE(uploadPicture().status, 200);
        QCOMPARE(arrives(received), receives);
    }

    void deadWebSocketIsClosed()
    {
        m_options.pingIntervalMs = 200;
        startServer();
        SilentProxy proxy(m_server->port());
        QVERIFY(proxy.listen());
        auto client = connectClient({}, QStringLiteral("/"), QString(), proxy.port());
        QVERIFY(client);
        QTest::qWait(600);
        QCOMPARE(get(QStringLiteral("/users")).body, QByteArray("1"));
        proxy.silenceOpenLinks();
        QTRY_COMPARE_WITH_TIMEOUT(get(QStringLiteral("/users")).body, QByteArray("0"), 5000);
    }

    void uploadKey_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("status");
        QTest::newRow("no key") << QByteArray() << QByteArray() << 403;
        QTest::newRow("wrong field") << QByteArray("s3cres") << QByteArray() << 403;
        QTest::newRow("field") << QByteArray("s3cret") << QByteArray() << 200;
        QTest::newRow("header") << QByteArray() << QByteArray("s3cret") << 200;
        QTest::newRow("wrong header, right field") << QByteArray("s3cret") << QByteArray("nope") << 403;
    }

    void uploadKey()
    {
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, header);
        QFETCH(int, status);
        m_options.uploadKey = "s3cret";
        startServer();
        Fields fields{{"room", "r1"}, {"message", "m"}, {"picture", m_picture}};
        if (!field.isEmpty())
            fields.append({"key", field});
        QCOMPARE(upload(fields, header.isEmpty() ? Fields{} : Fields{{"X-Upload-Key", header}}).status, status);
        QCOMPARE(storedFiles(), status == 200 ? 1 : 0);
    }

    void picturesAreReencoded_data()
    {
        QTest::addColumn<QByteArray>("picture");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("contentType");
        QTest::newRow("phone photo") << phoneJpeg() << QSize(20, 40) << QByteArray("image/jpeg");
        QTest::newRow("wider than 3840") << TestSupport::png(QSize(4000, 100), Qt::darkCyan) << QSize(3840, 96)
                                         << QByteArray("image/jpeg");
        QTest::newRow("transparent") << encoded(QSize(8, 8), "PNG", QImage::Format_ARGB32) << QSize(8, 8)
                                     << QByteArray("image/png");
    }

    void picturesAreReencoded()
    {
        QFETCH(QByteArray, picture);
        QFETCH(QSize, size);
        QFETCH(QByteArray, contentType);
        QCOMPARE(upload({{"room", "r1"}, {"message", "m"}, {"picture", picture}}).status, 200);
        const QStringList stored = QDir(m_storage.path()).entryList(QDir::Files);
        QCOMPARE(stored.size(), 1);
        const Reply served = get(QStringLiteral("/images/") + stored.first());
        QCOMPARE(served.contentType, contentType);
        QCOMPARE(QImage::fromData(served.body).size(), size);
        for (const char* gone : {"Exif", "GPS", "junk"})
            QVERIFY(!served.body.contains(gone));
    }

    void oldestPicturesGoFirst()
    {
        QTemporaryDir folder;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        // Minutes old; a limit of one hour and a quota of two and a half pictures keep the two newest.
        for (const auto& [name, minutes] : {std::pair{"a.jpg", 120}, {"b.jpg", 30}, {"c.png", 20}, {"d.jpg", 10}}) {
            QFile file(folder.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(1000, 'x'));
            file.flush();
            QVERIFY(file.setFileTime(now.addSecs(-60 * minutes), QFileDevice::FileModificationTime));
        }
        PictureStore store(folder.path(), 1, 2500);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
                 QStringList({QStringLiteral("c.png"), QStringLiteral("d.jpg")}));
    }

    void webSocketOnTheRootForItsOrigin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("accepted");
        const QString root = QStringLiteral("/");
        QTest::newRow("no origin, as Glim-deck sends") << root << QString() << true;
        QTest::newRow("this server") << root << QStringLiteral("https://localhost:%1") << true;
        QTest::newRow("another site") << root << QStringLiteral("https://elsewhere.example") << false;
        QTest::newRow("not the root") << QStringLiteral("/elsewhere") << QString() << false;
    }

    void webSocketOnTheRootForItsOrigin()
    {
        QFETCH(QString, path);
        QFETCH(QString, origin);
        QFETCH(bool, accepted);
        const QString sent = origin.contains(QLatin1String("%1")) ? origin.arg(m_server->port()) : origin;
        QCOMPARE(bool(connectClient({}, path, sent)), accepted);
    }

    void rawRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("ending");
        const QByteArray ok = "HTTP/1.1 200 OK\r\n";
        QTest::newRow("HEAD has no body") << QByteArray("HEAD /users HTTP/1.1\r\nHost: localhost\r\n\r\n") << ok
                                          << QByteArray("Content-Length: 1\r\nConnection: close\r\n\r\n");
        QTest::newRow("bare line feeds") << QByteArray("GET /users HTTP/1.1\nHost: localhost\n\n") << ok
                                         << QByteArray("Connection: close\r\n\r\n0");
        QTest::newRow("upload holding back its last byte")
            << QByteArray("POST /upload HTTP/1.1\r\nContent-Length: 10\r\n\r\n123456789") << QByteArray()
            << QByteArray();
    }

    void rawRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, ending);
        bool closed = false;
        const QByteArray response = exchange(request, &closed);
        QVERIFY(closed);
        QVERIFY2(response.startsWith(start) && response.endsWith(ending), response.constData());
    }

    void logLinesEscapeClientText()
    {
        LogCapture log;
        auto client = connectClient({QStringLiteral("r1\nFAUX")});
        QVERIFY(client);
        QTRY_COMPARE(log.countStartingWith(QStringLiteral("Abonnement de")), 1);
        QVERIFY(
            log.lines().filter(QStringLiteral("Abonnement de")).first().endsWith(QStringLiteral("\"r1\\u000aFAUX\"")));
        QVERIFY(log.lines().filter(QStringLiteral("\n")).isEmpty());
    }

    void plainModeCountsForwardedAddresses()
    {
        m_options.plain = true;
        m_options.uploadsPerMinute = 1;
        startServer();
        const Fields fields{{"room", "r1"}, {"message", "m"}, {"picture", m_picture}};
        QCOMPARE(upload(fields, {{"X-Real-IP", "203.0.113.1"}}).status, 200);
        QCOMPARE(upload(fields, {{"X-Forwarded-For", "203.0.113.1, 203.0.113.2"}}).status, 200);
        QCOMPARE(upload(fields, {{"X-Real-IP", "203.0.113.1"}}).status, 429);
    }

    void badOptionsExitNonZero_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString plain = QStringLiteral("--no-tls");
        QTest::newRow("no certificate") << QStringList{};
        for (const char* option : {"--max-upload-bytes=abc", "--max-upload-bytes=-5", "--port=70000", "--quota-mib=0",
                                   "--listen=0.0.0.0", "--upload-key-file=/nonexistent"})
            QTest::newRow(option) << QStringList{plain, QLatin1String(option)};
    }

    void badOptionsExitNonZero()
    {
        QFETCH(QStringList, arguments);
        QProcess server;
        // Should a check fail to refuse, the server starts on a port nobody else uses here.
        server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE), QStringList{QStringLiteral("--port=1")} + arguments);
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 2);
        QVERIFY(!server.readAllStandardError().isEmpty());
    }

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
    };

    void startServer()
    {
        m_server.reset();
        m_server = std::make_unique<ImageServer>(m_options);
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    }
    std::unique_ptr<QWebSocket> connectClient(const QStringList& rooms, const QString& path = QStringLiteral("/"),
                                              const QString& origin = QString(), quint16 port = 0);
    static void subscribe(QWebSocket& client, const QStringList& rooms);
    Reply finish(QNetworkReply* reply);
    Reply get(const QString& path);
    Reply upload(const Fields& fields, const Fields& headers = {});
    QByteArray exchange(const QByteArray& request, bool* closed);
    Reply uploadPicture() { return upload({{"room", "r1"}, {"message", "m"}, {"picture", m_picture}}); }
    static QByteArray encoded(QSize size, const char* format, QImage::Format pixels = QImage::Format_RGB32);
    static QByteArray phoneJpeg();
    int storedFiles() const;

    QTemporaryDir m_storage;
    ServerOptions m_options;
    std::unique_ptr<ImageServer> m_server;
    QNetworkAccessManager m_network;
    const QByteArray m_picture = TestSupport::png(QSize(8, 8), Qt::darkCyan);
};

std::unique_ptr<QWebSocket> TestImageServer::connectClient(const QStringList& rooms, const QString& path,
                                                           const QString& origin, quint16 port)
{
    auto client = std::make_unique<QWebSocket>(origin);
    QSignalSpy connected(client.get(), &QWebSocket::connected);
    client->open(QUrl(QStringLiteral("wss://localhost:%1%2").arg(port ? port : m_server->port()).arg(path)));
    if (!connected.wait(5000))
        return nullptr;
    subscribe(*client, rooms);
    return client;
}

void TestImageServer::subscribe(QWebSocket& client, const QStringList& rooms)
{
    QJsonObject data{{QStringLiteral("rooms"), QJsonArray::fromStringList(rooms)}};
    QJsonObject message{{QStringLiteral("event"), QStringLiteral("room:changed")}, {QStringLiteral("data"), data}};
    client.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

TestImageServer::Reply TestImageServer::finish(QNetworkReply* reply)
{
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(10000);
    Reply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                 reply->header(QNetworkRequest::ContentTypeHeader).toByteArray()};
    reply->deleteLater();
    return result;
}

TestImageServer::Reply TestImageServer::get(const QString& path)
{
    const QUrl url(QStringLiteral("https://localhost:%1%2").arg(m_server->port()).arg(path), QUrl::StrictMode);
    return finish(m_network.get(QNetworkRequest(url)));
}

TestImageServer::Reply TestImageServer::upload(const Fields& fields, const Fields& headers)
{
    auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    for (const auto& field : fields) {
        QHttpPart part;
        QByteArray disposition = "form-data; name=\"" + field.first + "\"";
        if (field.first == "picture")
            disposition += "; filename=\"photo.png\"";
        part.setHeader(QNetworkRequest::ContentDispositionHeader, disposition);
        part.setBody(field.second);
        form->append(part);
    }
    const QString scheme = m_options.plain ? QStringLiteral("http") : QStringLiteral("https");
    QNetworkRequest request(QUrl(QStringLiteral("%1://localhost:%2/upload").arg(scheme).arg(m_server->port())));
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);
    QNetworkReply* reply = m_network.post(request, form);
    form->setParent(reply);
    return finish(reply);
}

// One request on its own TLS connection; everything the server sent until it closed.
QByteArray TestImageServer::exchange(const QByteArray& request, bool* closed)
{
    QSslSocket socket;
    QSignalSpy disconnected(&socket, &QSslSocket::disconnected);
    socket.connectToHostEncrypted(QStringLiteral("localhost"), m_server->port());
    socket.write(request);
    *closed = disconnected.wait(5000);
    return socket.readAll();
}

QByteArray TestImageServer::encoded(QSize size, const char* format, QImage::Format pixels)
{
    QImage image(size, pixels);
    image.fill(Qt::transparent);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A 40 x 20 JPEG as a phone writes it: EXIF orientation "turn a quarter" (6), a position in a
// comment, and bytes after its end.
QByteArray TestImageServer::phoneJpeg()
{
    const QByteArray tiff("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const QByteArray exif =
        "\xff\xe1" + QByteArray(1, 0) + char(2 + 6 + tiff.size()) + QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray position = "GPS 48.8584 N 2.2945 E";
    const QByteArray comment = "\xff\xfe" + QByteArray(1, 0) + char(2 + position.size()) + position;
    const QByteArray jpeg = encoded(QSize(40, 20), "JPEG");
    return jpeg.left(2) + exif + comment + jpeg.mid(2) + "junk<html>";
}

int TestImageServer::storedFiles() const
{
    return int(QDir(m_storage.path()).entryList(QDir::Files).size());
}

QTEST_MAIN(TestImageServer)
#include "tst_imageserver.moc"
