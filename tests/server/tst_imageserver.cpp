#include "imageserver.h"
#include "testcertificates.h"

#include <QBuffer>
#include <QDir>
#include <QHttpMultiPart>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>

using Fields = QList<QPair<QByteArray, QByteArray>>;

// The server through real sockets: WebSocket clients and HTTPS requests on loopback.
class TestImageServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void photoGoesToItsRoomOnly();
    void badInputChangesNothing_data();
    void badInputChangesNothing();
    void malformedMessagesKeepTheConnection();
    void webSocketOnlyOnTheRoot();

private:
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
    };
    std::unique_ptr<QWebSocket> connectClient(const QStringList& rooms, const QString& path = QStringLiteral("/"));
    static void subscribe(QWebSocket& client, const QStringList& rooms);
    Reply finish(QNetworkReply* reply);
    Reply get(const QString& path);
    Reply upload(const Fields& fields);
    static QByteArray png(int side);
    int storedFiles() const;

    QTemporaryDir m_storage;
    std::unique_ptr<ImageServer> m_server;
    QNetworkAccessManager m_network;
};

void TestImageServer::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
}

void TestImageServer::init()
{
    QDir(m_storage.path()).removeRecursively();
    ServerOptions options;
    options.tls = TestCertificates::instance().serverConfiguration();
    options.storage = m_storage.path();
    options.maxUploadBytes = 64 * 1024;
    m_server = std::make_unique<ImageServer>(options);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

std::unique_ptr<QWebSocket> TestImageServer::connectClient(const QStringList& rooms, const QString& path)
{
    auto client = std::make_unique<QWebSocket>();
    QSignalSpy connected(client.get(), &QWebSocket::connected);
    client->open(QUrl(QStringLiteral("wss://localhost:%1%2").arg(m_server->port()).arg(path)));
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

TestImageServer::Reply TestImageServer::upload(const Fields& fields)
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
    QNetworkReply* reply = m_network.post(
        QNetworkRequest(QUrl(QStringLiteral("https://localhost:%1/upload").arg(m_server->port()))), form);
    form->setParent(reply);
    return finish(reply);
}

QByteArray TestImageServer::png(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int TestImageServer::storedFiles() const
{
    return int(QDir(m_storage.path()).entryList(QDir::Files).size());
}

void TestImageServer::photoGoesToItsRoomOnly()
{
    auto first = connectClient({QStringLiteral("r1")});
    auto second = connectClient({QStringLiteral("r2")});
    auto both = connectClient({QStringLiteral("r1"), QStringLiteral("r2")});
    QVERIFY(first && second && both);
    QSignalSpy firstGot(first.get(), &QWebSocket::textMessageReceived);
    QSignalSpy secondGot(second.get(), &QWebSocket::textMessageReceived);
    QSignalSpy bothGot(both.get(), &QWebSocket::textMessageReceived);
    QTRY_COMPARE(get(QStringLiteral("/users")).body, QByteArray("3"));

    const QByteArray picture = png(20);
    QCOMPARE(upload({{"room", "r1"}, {"message", "Bonjour à tous"}, {"picture", picture}}).status, 200);
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
    QCOMPARE(QImage::fromData(served.body).size(), QSize(20, 20));

    // A new list replaces the old one.
    subscribe(*first, {QStringLiteral("r2")});
    QTest::qWait(100);
    QCOMPARE(upload({{"room", "r1"}, {"message", ""}, {"picture", picture}}).status, 200);
    QTRY_COMPARE(bothGot.size(), 2);
    QTest::qWait(100);
    QCOMPARE(firstGot.size(), 1);
    QCOMPARE(secondGot.size(), 0);

    second.reset();
    QTRY_COMPARE(get(QStringLiteral("/users")).body, QByteArray("2"));
}

void TestImageServer::badInputChangesNothing_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<int>("status");
    using Fields = QList<QPair<QByteArray, QByteArray>>;
    const QByteArray picture = png(8);
    QTest::newRow("not a picture") << "POST"
                                   << "/upload" << Fields{{"room", "r1"}, {"message", "m"}, {"picture", "<html>"}}
                                   << 415;
    QTest::newRow("no room") << "POST"
                             << "/upload" << Fields{{"message", "m"}, {"picture", picture}} << 400;
    QTest::newRow("no picture") << "POST"
                                << "/upload" << Fields{{"room", "r1"}, {"message", "m"}} << 400;
    QTest::newRow("no message") << "POST"
                                << "/upload" << Fields{{"room", "r1"}, {"picture", picture}} << 400;
    QTest::newRow("room of 11 characters")
        << "POST"
        << "/upload" << Fields{{"room", "abcdefghijk"}, {"message", "m"}, {"picture", picture}} << 400;
    QTest::newRow("empty room") << "POST"
                                << "/upload" << Fields{{"room", ""}, {"message", "m"}, {"picture", picture}} << 400;
    QTest::newRow("over the size limit") << "POST"
                                         << "/upload"
                                         << Fields{{"room", "r1"},
                                                   {"message", "m"},
                                                   {"picture", QByteArray(100 * 1024, 0x7f)}}
                                         << 413;
    QTest::newRow("leaving the storage folder") << "GET"
                                                << "/images/%2e%2e/%2e%2e/etc/passwd" << Fields{} << 404;
    QTest::newRow("unknown picture") << "GET"
                                     << "/images/00000000000000000000000000000000.png" << Fields{} << 404;
    QTest::newRow("unknown path") << "GET"
                                  << "/nothing" << Fields{} << 404;
    QTest::newRow("upload by GET") << "GET"
                                   << "/upload" << Fields{} << 405;
}

void TestImageServer::badInputChangesNothing()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(Fields, fields);
    QFETCH(int, status);
    auto client = connectClient({QStringLiteral("r1")});
    QVERIFY(client);
    QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
    const Reply reply = method == QLatin1String("POST") ? upload(fields) : get(path);
    QVERIFY2(reply.status == status, reply.body.constData());
    QVERIFY(!reply.body.isEmpty());
    QTest::qWait(100);
    QCOMPARE(received.size(), 0);
    QCOMPARE(storedFiles(), 0);
}

void TestImageServer::malformedMessagesKeepTheConnection()
{
    auto client = connectClient({});
    QVERIFY(client);
    QSignalSpy disconnected(client.get(), &QWebSocket::disconnected);
    QSignalSpy received(client.get(), &QWebSocket::textMessageReceived);
    for (const char* text : {"pas du JSON", "[1,2]", R"({"event":"room:changed","data":{"rooms":"r1"}})", ""})
        client->sendTextMessage(QString::fromUtf8(text));
    subscribe(*client, {QStringLiteral("r1")});
    QTest::qWait(100);
    QCOMPARE(upload({{"room", "r1"}, {"message", "m"}, {"picture", png(8)}}).status, 200);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(disconnected.size(), 0);
}

void TestImageServer::webSocketOnlyOnTheRoot()
{
    QVERIFY(!connectClient({}, QStringLiteral("/elsewhere")));
    QVERIFY(connectClient({}));
}

QTEST_MAIN(TestImageServer)
#include "tst_imageserver.moc"
