// SPDX-License-Identifier: GPL-3.0-or-later
#include "imageserver.h"
#include "protocol/roomname.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {

const QByteArray KEY = "cle-du-test";
const QString ROOM = u"famille"_s;
// What a phone writes before the pixels: EXIF orientation "turn a quarter" (6), then a position.
const char PHONE_METADATA[] = "\xff\xe1\0\042Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
                              "\xff\xfe\0\x18GPS 48.8584 N 2.2945 E";

// How the picture comes to the page: chosen in it, or shared from the gallery to the installed
// page, caught by its service worker or reaching the server past it.
enum class Share { No, ThroughWorker, PastWorker };

// Headless Chromium driven over its DevTools protocol: one page, each command awaited in turn.
class Browser
{
public:
    // Asked to close, the browser ends its helpers and leaves its profile to be removed.
    ~Browser()
    {
        if (m_socket.state() == QAbstractSocket::ConnectedState)
            call(u"Browser.close"_s);
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }

    bool start(const QStringList& arguments)
    {
        m_process.setStandardOutputFile(QProcess::nullDevice()); // its own complaints of a machine without a bus
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStandardPaths::findExecutable(u"chromium"_s),
                        arguments + QStringList{u"--user-data-dir="_s + m_profile.path(), u"about:blank"_s});
        const QString portFile = m_profile.filePath(u"DevToolsActivePort"_s);
        if (!QTest::qWaitFor([&] { return readFile(portFile).contains('\n'); }, 30000))
            return false;
        QNetworkAccessManager network;
        const QUrl list(u"http://127.0.0.1:%1/json/list"_s.arg(QString::fromLatin1(readFile(portFile).split('\n')[0])));
        const QJsonArray targets = QJsonDocument::fromJson(finish(network.get(QNetworkRequest(list))).body).array();
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, &m_socket, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains(u"id"_s))
                m_answers.insert(message[u"id"_s].toInt(), message);
        });
        for (const QJsonValue target : targets) {
            if (target[u"type"_s] == u"page"_s)
                m_socket.open(QUrl(target[u"webSocketDebuggerUrl"_s].toString()));
        }
        return QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000);
    }

    QJsonObject call(const QString& method, const QJsonObject& params = {})
    {
        const int id = ++m_lastId;
        const QJsonObject command{{u"id"_s, id}, {u"method"_s, method}, {u"params"_s, params}};
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
        static_cast<void>(QTest::qWaitFor([&] { return m_answers.contains(id); }, 30000));
        const QJsonObject answer = m_answers.take(id);
        if (answer.contains(u"error"_s))
            qWarning() << method << answer[u"error"_s];
        return answer[u"result"_s].toObject();
    }

    QJsonValue evaluate(const QString& expression)
    {
        const QJsonObject params{{u"expression"_s, expression}, {u"returnByValue"_s, true}, {u"awaitPromise"_s, true}};
        return call(u"Runtime.evaluate"_s, params)[u"result"_s][u"value"_s];
    }

    bool waitUntil(const QString& expression)
    {
        return QTest::qWaitFor([&] { return evaluate(expression).toBool(); }, 20000);
    }

    bool open(const QString& url)
    {
        call(u"Page.navigate"_s, {{u"url"_s, url}});
        return waitUntil(u"document.readyState === 'complete' && location.href === '%1'"_s.arg(url));
    }

    int node(const QString& selector)
    {
        const int document = call(u"DOM.getDocument"_s)[u"root"_s][u"nodeId"_s].toInt();
        return call(u"DOM.querySelector"_s, {{u"nodeId"_s, document}, {u"selector"_s, selector}})[u"nodeId"_s].toInt();
    }

    void choose(const QString& selector, const QString& file)
    {
        call(u"DOM.setFileInputFiles"_s, {{u"files"_s, QJsonArray{file}}, {u"nodeId"_s, node(selector)}});
    }

    void type(const QString& selector, const QString& text)
    {
        call(u"DOM.focus"_s, {{u"nodeId"_s, node(selector)}});
        call(u"Input.insertText"_s, {{u"text"_s, text}});
    }

    // A finger's tap on the middle of the element.
    void tap(const QString& selector)
    {
        const int id = node(selector);
        call(u"DOM.scrollIntoViewIfNeeded"_s, {{u"nodeId"_s, id}});
        const QJsonArray quad = call(u"DOM.getBoxModel"_s, {{u"nodeId"_s, id}})[u"model"_s][u"border"_s].toArray();
        const QJsonObject point{{u"x"_s, (quad[0].toDouble() + quad[4].toDouble()) / 2},
                                {u"y"_s, (quad[1].toDouble() + quad[5].toDouble()) / 2}};
        call(u"Input.dispatchTouchEvent"_s, {{u"type"_s, u"touchStart"_s}, {u"touchPoints"_s, QJsonArray{point}}});
        call(u"Input.dispatchTouchEvent"_s, {{u"type"_s, u"touchEnd"_s}, {u"touchPoints"_s, QJsonArray()}});
    }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    int m_lastId = 0;
    QHash<int, QJsonObject> m_answers;
};

} // namespace

Q_DECLARE_METATYPE(Share)

// The upload page in a real browser held as a phone, against a real glimdeck-server.
class TestUploadPage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcess m_server;
    QByteArray m_log;
    QString m_origin;
    QStringList m_chromium;
    QWebSocket m_subscriber;
    QNetworkAccessManager m_network;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(u"chromium"_s).isEmpty())
            QSKIP("needs Debian's chromium, which the test script installs");
        QVERIFY(TestCertificates::trustInProcess());
        makePictures();
        startServer();
        m_subscriber.setSslConfiguration(QSslConfiguration::defaultConfiguration()); // now trusting the authority
        m_subscriber.open(QUrl(u"wss://localhost:%1"_s.arg(QUrl(m_origin).port())));
        QTRY_COMPARE(m_subscriber.state(), QAbstractSocket::ConnectedState);
        m_subscriber.sendTextMessage(uR"({"event":"room:changed","data":{"rooms":["%1"]}})"_s.arg(ROOM));
        QTRY_VERIFY(m_log.contains("Abonnement de"));
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }

    void sendsAPicture_data()
    {
        QTest::addColumn<bool>("script");
        QTest::addColumn<Share>("share");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("answer");
        const QString sent = u"Image envoyée au groupe %1 (1 clients)."_s.arg(ROOM);
        const QString photo = u"phone.jpg"_s;
        QTest::newRow("phone photo") << true << Share::No << photo << KEY << sent;
        QTest::newRow("shared from the gallery") << true << Share::ThroughWorker << photo << KEY << sent;
        QTest::newRow("share past the worker") << true << Share::PastWorker << photo << KEY << sent;
        QTest::newRow("without JavaScript") << false << Share::No << photo << KEY << sent;
        QTest::newRow("wrong key") << true << Share::No << photo << QByteArray("faux") << u"Clé d'envoi refusée."_s;
        QTest::newRow("not a picture") << true << Share::No << u"notes.txt"_s << KEY
                                       << u"Ce fichier n'est pas une image lisible."_s;
    }

    void sendsAPicture()
    {
        QFETCH(bool, script);
        QFETCH(Share, share);
        QFETCH(QString, picture);
        QFETCH(QByteArray, key);
        QFETCH(QString, answer);
        const bool delivered = answer.startsWith(u"Image envoyée"_s);
        Browser browser;
        QVERIFY(browser.start(m_chromium));
        holdAsPhone(browser);
        browser.call(u"Emulation.setScriptExecutionDisabled"_s, {{u"value"_s, !script}});
        QVERIFY(browser.open(m_origin + u'/'));
        if (share != Share::No)
            QVERIFY(shareFromGallery(browser, picture, share == Share::PastWorker));
        if (share != Share::ThroughWorker)
            browser.choose(u"#picture"_s, m_home.filePath(picture));
        if (script)
            QVERIFY(
                browser.waitUntil(picture.endsWith(u".jpg"_s) ? u"preview.naturalWidth > 0"_s : u"preview.hidden"_s));
        browser.type(u"#room"_s, ROOM);
        browser.type(u"#key"_s, QString::fromUtf8(key));
        if (script)
            browser.tap(u"#remember-key"_s);
        QSignalSpy photos(&m_subscriber, &QWebSocket::textMessageReceived);
        browser.tap(u"#send"_s);
        const QString said = script ? u"#answer"_s : u".answer"_s;
        QVERIFY2(browser.waitUntil(u"document.querySelector('%1')?.textContent === \"%2\""_s.arg(said, answer)),
                 qPrintable(browser.evaluate(u"document.body.innerText"_s).toString()));
        QVERIFY(!browser.evaluate(u"location.href"_s).toString().contains(QString::fromUtf8(key)));
        QCOMPARE(photos.size() || photos.wait(delivered ? 5000 : 200), delivered);
        if (!delivered)
            return;
        checkStoredPicture(photos.first().first().toString(), script);
        if (QTest::currentTestFailed())
            return;
        if (!script)
            return;
        QCOMPARE(browser.evaluate(u"progress.value === progress.max && !progress.hidden"_s).toBool(), true);
        // The next photo, on the page opened again: group and key are already there.
        QVERIFY(browser.open(m_origin + u'/'));
        QCOMPARE(browser.evaluate(u"room.value"_s).toString(), ROOM);
        QCOMPARE(browser.evaluate(u"key.value"_s).toString(), QString::fromUtf8(key));
        browser.choose(u"#picture"_s, m_home.filePath(picture));
        browser.tap(u"#send"_s);
        QVERIFY(browser.waitUntil(u"document.querySelector('#answer').textContent === \"%1\""_s.arg(answer)));
        QTRY_COMPARE(photos.size(), 2);
    }

    void everyAnswerIsSafe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("page") << u"/"_s << 200;
        QTest::newRow("script") << u"/upload.js"_s << 200;
        QTest::newRow("count") << u"/users"_s << 200;
        QTest::newRow("missing") << u"/nothing"_s << 404;
        QTest::newRow("form by GET") << u"/upload"_s << 405;
    }

    void everyAnswerIsSafe()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        const std::unique_ptr<QNetworkReply> reply(m_network.get(QNetworkRequest(QUrl(m_origin + path))));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        const QByteArray policy = reply->rawHeader("Content-Security-Policy");
        QVERIFY(policy.contains("script-src 'self';"));
        QVERIFY(!policy.contains("unsafe"));
        QVERIFY(policy.contains("frame-ancestors 'none'"));
        QCOMPARE(reply->rawHeader("X-Content-Type-Options"), QByteArray("nosniff"));
        QCOMPARE(reply->rawHeader("Referrer-Policy"), QByteArray("no-referrer"));
    }

    // An unchanged file costs a short answer; the browser revalidates at each visit.
    void pageFilesAreRevalidated()
    {
        const QUrl page(m_origin + u"/upload.css"_s);
        const std::unique_ptr<QNetworkReply> first(m_network.get(QNetworkRequest(page)));
        QTRY_VERIFY(first->isFinished());
        QCOMPARE(first->rawHeader("Cache-Control"), QByteArray("no-cache"));
        QNetworkRequest again(page);
        again.setRawHeader("If-None-Match", first->rawHeader("ETag"));
        const std::unique_ptr<QNetworkReply> second(m_network.get(again));
        QTRY_VERIFY(second->isFinished());
        QCOMPARE(second->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 304);
        QCOMPARE(second->readAll(), QByteArray());
    }

    void installsAsAnApp()
    {
        Browser browser;
        QVERIFY(browser.start(m_chromium));
        holdAsPhone(browser);
        QVERIFY(browser.open(m_origin + u'/'));
        QVERIFY(browser.waitUntil(u"navigator.serviceWorker.controller !== null"_s));
        const QJsonObject manifest = browser.call(u"Page.getAppManifest"_s);
        QCOMPARE(manifest[u"url"_s].toString(), m_origin + u"/manifest.webmanifest"_s);
        QCOMPARE(manifest[u"errors"_s].toArray(), QJsonArray());
        QCOMPARE(browser.call(u"Page.getInstallabilityErrors"_s)[u"installabilityErrors"_s].toArray(), QJsonArray());
        // One column a thumb can use, and inputs that take the server's own bounds.
        QCOMPARE(browser.evaluate(u"document.documentElement.scrollWidth"_s).toInt(), 390);
        const QString targets = u"[...document.querySelectorAll('input:not([type=checkbox]), button, .check label')]"_s;
        QCOMPARE(browser.evaluate(targets + u".filter(e => e.getBoundingClientRect().height < 44).length"_s).toInt(),
                 0);
        QCOMPARE(browser.evaluate(u"room.maxLength"_s).toInt(), RoomName::MAX_LENGTH);
        QCOMPARE(browser.evaluate(u"message.maxLength"_s).toInt(), ServerLimits::MAX_MESSAGE_LENGTH);
        browser.choose(u"#picture"_s, m_home.filePath(u"phone.jpg"_s));
        browser.type(u"#room"_s, ROOM);
        browser.type(u"#message"_s, u"Bon anniversaire !"_s);
        QVERIFY(browser.waitUntil(u"preview.naturalWidth > 0"_s));
        keepScreenshot(browser, u"upload-page.png"_s);
    }

private:
    void makePictures()
    {
        const QString plain = m_home.filePath(u"plain.jpg"_s);
        QCOMPARE(QProcess::execute(u"convert"_s,
                                   {u"-size"_s, u"4032x3024"_s, u"plasma:fractal"_s, u"-quality"_s, u"92"_s, plain}),
                 0);
        const QByteArray phone = readFile(plain).insert(2, PHONE_METADATA, sizeof PHONE_METADATA - 1);
        QVERIFY(writeFile(m_home.filePath(u"phone.jpg"_s), phone));
        QVERIFY(writeFile(m_home.filePath(u"notes.txt"_s), "Liste des courses\n"));
        QVERIFY(writeFile(m_home.filePath(u"upload.key"_s), KEY + '\n'));
    }

    void startServer()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString port = QString::number(probe.serverPort());
        probe.close();
        const TestCertificates& certificates = TestCertificates::instance();
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_log += m_server.readAllStandardError(); });
        m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE),
                       {u"--listen=127.0.0.1"_s, u"--port="_s + port, u"--storage="_s + m_home.filePath(u"storage"_s),
                        u"--cert="_s + certificates.filePath(u"server.pem"_s),
                        u"--key="_s + certificates.filePath(u"server.key"_s),
                        u"--upload-key-file="_s + m_home.filePath(u"upload.key"_s)});
        QTRY_VERIFY2(m_log.contains("écoute sur"), m_log.constData());
        m_origin = u"https://localhost:"_s + port;
        // The browser trusts the server's own key, and nothing else it would otherwise refuse.
        const QSslCertificate certificate(readFile(certificates.filePath(u"server.pem"_s)));
        const QByteArray spki = QCryptographicHash::hash(certificate.publicKey().toDer(), QCryptographicHash::Sha256);
        m_chromium = QStringList{u"--headless"_s,
                                 u"--no-sandbox"_s,
                                 u"--disable-gpu"_s,
                                 u"--disable-quic"_s,
                                 u"--no-first-run"_s,
                                 u"--disable-background-networking"_s,
                                 u"--disable-component-update"_s,
                                 u"--disable-sync"_s,
                                 u"--remote-debugging-port=0"_s,
                                 u"--ignore-certificate-errors-spki-list="_s + QString::fromLatin1(spki.toBase64())};
    }

    static void holdAsPhone(Browser& browser)
    {
        browser.call(u"Emulation.setDeviceMetricsOverride"_s,
                     {{u"width"_s, 390}, {u"height"_s, 844}, {u"deviceScaleFactor"_s, 2}, {u"mobile"_s, true}});
        browser.call(u"Emulation.setTouchEmulationEnabled"_s, {{u"enabled"_s, true}, {u"maxTouchPoints"_s, 5}});
    }

    // As the phone's share sheet does: a form posted to the installed page's share target. Past
    // the worker, the server sends the page back, and the page asks for the picture again.
    bool shareFromGallery(Browser& browser, const QString& picture, bool pastWorker)
    {
        if (!browser.waitUntil(u"navigator.serviceWorker.controller !== null"_s))
            return false;
        browser.call(u"Network.enable"_s);
        browser.call(u"Network.setBypassServiceWorker"_s, {{u"bypass"_s, pastWorker}});
        browser.evaluate(uR"(document.body.insertAdjacentHTML("beforeend",
            '<form id="share" method="post" action="%1" enctype="multipart/form-data">'
            + '<input id="shared" type="file" name="picture"></form>'))"_s.arg(QLatin1String(ImageServer::SHARE_PATH)));
        browser.choose(u"#shared"_s, m_home.filePath(picture));
        browser.evaluate(u"document.getElementById('share').submit()"_s);
        return browser.waitUntil(pastWorker ? u"location.search === '' && answer.textContent.includes('pas arrivée')"_s
                                            : u"location.search === '' && preview.naturalWidth > 0"_s);
    }

    // What reaches the subscriber's screens: upright, and without the camera's metadata.
    void checkStoredPicture(const QString& broadcast, bool scaledInPage)
    {
        const QString path = QJsonDocument::fromJson(broadcast.toUtf8())[u"data"_s][u"image"_s].toString();
        const QByteArray stored = readFile(m_home.filePath(u"storage/"_s + QFileInfo(path).fileName()));
        QCOMPARE(QImage::fromData(stored).size(), QSize(2160, 2880));
        QVERIFY(!stored.contains(QByteArrayView("Exif\0\0", 6)));
        QVERIFY(!stored.contains("GPS 48.8584 N"));
        // The server says how many bytes it received.
        const QByteArray line = ": " + path.toUtf8() + ' ';
        QTRY_VERIFY(m_log.contains(line));
        const QByteArray said = m_log.mid(m_log.indexOf(line) + line.size());
        const qint64 received = said.left(said.indexOf(' ')).toLongLong();
        const qint64 taken = readFile(m_home.filePath(u"phone.jpg"_s)).size();
        qInfo().noquote() << "Photo of" << taken << "bytes sent as" << received << "bytes, stored in" << stored.size();
        QCOMPARE(received < taken, scaledInPage);
    }

    // With GLIMDECK_SCREENSHOTS set, the page as a phone shows it is kept there.
    static void keepScreenshot(Browser& browser, const QString& name)
    {
        const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        const QJsonObject page{{u"x"_s, 0},
                               {u"y"_s, 0},
                               {u"width"_s, 390},
                               {u"scale"_s, 1},
                               {u"height"_s, browser.evaluate(u"document.documentElement.scrollHeight"_s)}};
        const QJsonObject shot =
            browser.call(u"Page.captureScreenshot"_s,
                         {{u"format"_s, u"png"_s}, {u"clip"_s, page}, {u"captureBeyondViewport"_s, true}});
        QVERIFY(writeFile(folder + u'/' + name, QByteArray::fromBase64(shot[u"data"_s].toString().toLatin1())));
    }
};

QTEST_MAIN(TestUploadPage)
#include "tst_uploadpage.moc"
