// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {

const QString KEY = "cle-du-test";
const QString ROOM = "famille";
// EXIF "turn a quarter", then a position.
const char PHONE_METADATA[] = "\xff\xe1\0\042Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
                              "\xff\xfe\0\x18GPS 48.8584 N 2.2945 E";

enum class Share { No, ThroughWorker, PastWorker };

// Headless Chromium over its DevTools protocol.
class Browser
{
public:
    ~Browser()
    {
        if (m_socket.state() == QAbstractSocket::ConnectedState)
            call("Browser.close");
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(10000);
    }

    bool start()
    {
        const QSslCertificate certificate(readFile(TestCertificates::instance().filePath("server.pem")));
        const QByteArray spki = QCryptographicHash::hash(certificate.publicKey().toDer(), QCryptographicHash::Sha256);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStandardPaths::findExecutable("chromium"),
                        {"--headless", "--no-sandbox", "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--remote-debugging-port=0",
                         u"--ignore-certificate-errors-spki-list="_s + QString::fromLatin1(spki.toBase64()),
                         u"--user-data-dir="_s + m_profile.path(), "about:blank"});
        const QString portFile = m_profile.filePath("DevToolsActivePort");
        if (!QTest::qWaitFor([&] { return readFile(portFile).contains('\n'); }, 30000))
            return false;
        QNetworkAccessManager network;
        const QUrl list(u"http://127.0.0.1:%1/json/list"_s.arg(QString::fromLatin1(readFile(portFile).split('\n')[0])));
        const QJsonArray targets = QJsonDocument::fromJson(finish(network.get(QNetworkRequest(list))).body).array();
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, &m_socket, [this](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.contains("id"))
                m_answers.insert(message["id"].toInt(), message);
        });
        for (const QJsonValue target : targets) {
            if (target["type"] == "page")
                m_socket.open(QUrl(target["webSocketDebuggerUrl"].toString()));
        }
        if (!QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000))
            return false;
        // Held as a phone.
        call("Emulation.setDeviceMetricsOverride",
             {{"width", 390}, {"height", 844}, {"deviceScaleFactor", 2}, {"mobile", true}});
        call("Emulation.setTouchEmulationEnabled", {{"enabled", true}, {"maxTouchPoints", 5}});
        return true;
    }

    QJsonObject call(const QString& method, const QJsonObject& params = {})
    {
        const int id = ++m_lastId;
        const QJsonObject command{{"id", id}, {"method", method}, {"params", params}};
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(command).toJson(QJsonDocument::Compact)));
        static_cast<void>(QTest::qWaitFor([&] { return m_answers.contains(id); }, 30000));
        const QJsonObject answer = m_answers.take(id);
        if (answer.contains("error"))
            qWarning() << method << answer[u"error"_s];
        return answer["result"].toObject();
    }

    QJsonValue evaluate(const QString& expression)
    {
        const QJsonObject params{{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}};
        return call("Runtime.evaluate", params)["result"][u"value"_s];
    }

    bool waitUntil(const QString& expression)
    {
        return QTest::qWaitFor([&] { return evaluate(expression).toBool(); }, 20000);
    }

    bool open(const QString& url)
    {
        call("Page.navigate", {{"url", url}});
        return waitUntil(u"document.readyState === 'complete' && location.href === '%1'"_s.arg(url));
    }

    int node(const QString& selector)
    {
        const int document = call("DOM.getDocument")["root"][u"nodeId"_s].toInt();
        return call("DOM.querySelector", {{"nodeId", document}, {"selector", selector}})["nodeId"].toInt();
    }

    void choose(const QString& selector, const QString& file)
    {
        call("DOM.setFileInputFiles", {{"files", QJsonArray{file}}, {"nodeId", node(selector)}});
    }

    void type(const QString& selector, const QString& text)
    {
        call("DOM.focus", {{"nodeId", node(selector)}});
        call("Input.insertText", {{"text", text}});
    }

    void tap(const QString& selector)
    {
        const int id = node(selector);
        call("DOM.scrollIntoViewIfNeeded", {{"nodeId", id}});
        const QJsonArray quad = call("DOM.getBoxModel", {{"nodeId", id}})["model"][u"border"_s].toArray();
        const QJsonObject point{{"x", (quad[0].toDouble() + quad[4].toDouble()) / 2},
                                {"y", (quad[1].toDouble() + quad[5].toDouble()) / 2}};
        call("Input.dispatchTouchEvent", {{"type", "touchStart"}, {"touchPoints", QJsonArray{point}}});
        call("Input.dispatchTouchEvent", {{"type", "touchEnd"}, {"touchPoints", QJsonArray()}});
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

class TestUploadPage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QProcess m_server;
    QByteArray m_log;
    QString m_origin;
    QWebSocket m_subscriber;
    QNetworkAccessManager m_network;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("chromium").isEmpty())
            QSKIP("needs Debian's chromium, which the test script installs");
        QVERIFY(TestCertificates::trustInProcess());
        makePictures();
        startServer();
        m_subscriber.setSslConfiguration(QSslConfiguration::defaultConfiguration());
        m_subscriber.open(QUrl(u"wss://localhost:%1"_s.arg(QUrl(m_origin).port())));
        QTRY_COMPARE(m_subscriber.state(), QAbstractSocket::ConnectedState);
        m_subscriber.sendTextMessage(uR"({"event":"room:changed","data":{"rooms":["%1"]}})"_s.arg(ROOM));
        QTRY_VERIFY(m_log.contains("Abonnement de"));
    }

    void cleanupTestCase() { stopAll({&m_server}); }

    void sendsAPicture_data()
    {
        QTest::addColumn<bool>("script");
        QTest::addColumn<Share>("share");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("answer");
        const QString sent = u"Image envoyée au groupe %1 (1 clients)."_s.arg(ROOM);
        const QString photo = "phone.jpg";
        QTest::newRow("phone photo") << true << Share::No << photo << sent;
        QTest::newRow("shared from the gallery") << true << Share::ThroughWorker << photo << sent;
        QTest::newRow("share past the worker") << true << Share::PastWorker << photo << sent;
        QTest::newRow("without JavaScript") << false << Share::No << photo << sent;
        QTest::newRow("not a picture") << true << Share::No << u"notes.txt"_s
                                       << u"Ce fichier n'est pas une image lisible."_s;
    }

    void sendsAPicture()
    {
        QFETCH(bool, script);
        QFETCH(Share, share);
        QFETCH(QString, picture);
        QFETCH(QString, answer);
        const bool delivered = answer.startsWith("Image envoyée");
        Browser browser;
        QVERIFY(browser.start());
        browser.call("Emulation.setScriptExecutionDisabled", {{"value", !script}});
        QVERIFY(browser.open(m_origin + u'/'));
        if (share != Share::No)
            QVERIFY(shareFromGallery(browser, picture, share == Share::PastWorker));
        if (share != Share::ThroughWorker)
            browser.choose("#picture", m_home.filePath(picture));
        if (script)
            QVERIFY(browser.waitUntil(picture.endsWith(".jpg") ? "preview.naturalWidth > 0" : "preview.hidden"));
        browser.type("#room", ROOM);
        browser.type("#key", KEY);
        if (script)
            browser.tap("#remember-key");
        QSignalSpy photos(&m_subscriber, &QWebSocket::textMessageReceived);
        browser.tap("#send");
        const QString said = script ? "#answer" : ".answer";
        QVERIFY2(browser.waitUntil(u"document.querySelector('%1')?.textContent === \"%2\""_s.arg(said, answer)),
                 qPrintable(browser.evaluate("document.body.innerText").toString()));
        QVERIFY(!browser.evaluate("location.href").toString().contains(KEY));
        QCOMPARE(photos.size() || photos.wait(delivered ? 5000 : 200), delivered);
        if (!delivered)
            return;
        const QJsonDocument broadcast = QJsonDocument::fromJson(photos.first().first().toString().toUtf8());
        const QString path = broadcast["data"][u"image"_s].toString();
        const QByteArray stored = readFile(m_home.filePath(u"storage/"_s + QFileInfo(path).fileName()));
        QCOMPARE(QImage::fromData(stored).size(), QSize(2160, 2880));
        QVERIFY(!stored.contains(QByteArrayView("Exif\0\0", 6)));
        QVERIFY(!stored.contains("GPS 48.8584 N"));
        // The server logs the bytes it received: fewer than the photo's once the page scaled it.
        const QByteArray line = ": " + path.toUtf8() + ' ';
        QTRY_VERIFY(m_log.contains(line));
        const QByteArray logged = m_log.mid(m_log.indexOf(line) + line.size());
        QCOMPARE(logged.left(logged.indexOf(' ')).toLongLong() < readFile(m_home.filePath(picture)).size(), script);
        if (!script)
            return;
        QVERIFY(browser.evaluate("progress.value === progress.max && !progress.hidden").toBool());
        // Opened again: group and key are remembered.
        QVERIFY(browser.open(m_origin + u'/'));
        QCOMPARE(browser.evaluate("room.value").toString(), ROOM);
        QCOMPARE(browser.evaluate("key.value").toString(), KEY);
    }

    void everyAnswerIsSafe_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("page") << u"/"_s << 200;
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
        QCOMPARE(reply->rawHeader("X-Content-Type-Options"), "nosniff"_ba);
        QCOMPARE(reply->rawHeader("Referrer-Policy"), "no-referrer"_ba);
    }

    void pageFilesAreRevalidated()
    {
        const QUrl page(m_origin + u"/upload.css"_s);
        const std::unique_ptr<QNetworkReply> first(m_network.get(QNetworkRequest(page)));
        QTRY_VERIFY(first->isFinished());
        QCOMPARE(first->rawHeader("Cache-Control"), "no-cache"_ba);
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
        QVERIFY(browser.start());
        QVERIFY(browser.open(m_origin + u'/'));
        QVERIFY(browser.waitUntil("navigator.serviceWorker.controller !== null"));
        const QJsonObject manifest = browser.call("Page.getAppManifest");
        QCOMPARE(manifest[u"url"_s].toString(), m_origin + u"/manifest.webmanifest"_s);
        QCOMPARE(manifest[u"errors"_s].toArray(), QJsonArray());
        QCOMPARE(browser.call("Page.getInstallabilityErrors")[u"installabilityErrors"_s].toArray(), QJsonArray());
        QCOMPARE(browser.evaluate("document.documentElement.scrollWidth").toInt(), 390);
        const QString targets = "[...document.querySelectorAll('input:not([type=checkbox]), button, .check label')]";
        QCOMPARE(browser.evaluate(targets + u".filter(e => e.getBoundingClientRect().height < 44).length"_s).toInt(),
                 0);
        QCOMPARE(browser.evaluate("room.maxLength").toInt(), 10);
        QCOMPARE(browser.evaluate("message.maxLength").toInt(), 500);
        const QString folder = qEnvironmentVariable("GLIMDECK_SCREENSHOTS");
        if (folder.isEmpty())
            return;
        // Filled in, for the README.
        browser.choose("#picture", m_home.filePath("phone.jpg"));
        browser.type("#room", ROOM);
        browser.type("#message", "Bon anniversaire !");
        QVERIFY(browser.waitUntil("preview.naturalWidth > 0"));
        const QJsonObject page{{"x", 0},
                               {"y", 0},
                               {"width", 390},
                               {"scale", 1},
                               {"height", browser.evaluate("document.documentElement.scrollHeight")}};
        const QJsonObject shot = browser.call("Page.captureScreenshot",
                                              {{"format", "png"}, {"clip", page}, {"captureBeyondViewport", true}});
        QVERIFY(writeFile(folder + u"/upload-page.png"_s, QByteArray::fromBase64(shot["data"].toString().toLatin1())));
    }

private:
    void makePictures()
    {
        const QString plain = m_home.filePath("plain.jpg");
        QCOMPARE(QProcess::execute("convert", {"-size", "4032x3024", "plasma:fractal", "-quality", "92", plain}), 0);
        const QByteArray phone = readFile(plain).insert(2, PHONE_METADATA, sizeof PHONE_METADATA - 1);
        QVERIFY(writeFile(m_home.filePath("phone.jpg"), phone));
        QVERIFY(writeFile(m_home.filePath("notes.txt"), "Liste des courses\n"));
        QVERIFY(writeFile(m_home.filePath("upload.key"), KEY.toUtf8() + '\n'));
    }

    void startServer()
    {
        const QString port = QString::number(freePort());
        connect(&m_server, &QProcess::readyReadStandardError, this,
                [this] { m_log += m_server.readAllStandardError(); });
        m_server.start(QStringLiteral(GLIMDECK_SERVER_EXECUTABLE),
                       serverArguments(m_home.filePath("storage"), TestCertificates::instance().path())
                           << u"--port="_s + port << u"--upload-key-file="_s + m_home.filePath("upload.key"));
        QTRY_VERIFY2(m_log.contains("écoute sur"), m_log.constData());
        m_origin = u"https://localhost:"_s + port;
    }

    // As a share sheet does. Past the worker, the page asks for the picture again.
    bool shareFromGallery(Browser& browser, const QString& picture, bool pastWorker)
    {
        if (!browser.waitUntil("navigator.serviceWorker.controller !== null"))
            return false;
        browser.call("Network.enable");
        browser.call("Network.setBypassServiceWorker", {{"bypass", pastWorker}});
        browser.evaluate(uR"(document.body.insertAdjacentHTML("beforeend",
            '<form id="share" method="post" action="/share" enctype="multipart/form-data">'
            + '<input id="shared" type="file" name="picture"></form>'))"_s);
        browser.choose("#shared", m_home.filePath(picture));
        browser.evaluate("document.getElementById('share').submit()");
        return browser.waitUntil(pastWorker ? "location.search === '' && answer.textContent.includes('pas arrivée')"
                                            : "location.search === '' && preview.naturalWidth > 0");
    }
};

QTEST_MAIN(TestUploadPage)
#include "tst_uploadpage.moc"
