// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"
#include "net/systemproxy.h"
#include "net/websocketclient.h"
#include "testsupport.h"
#include "tray/clientcounter.h"

using namespace Qt::StringLiterals;

class TestSystemProxy : public QObject
{
    Q_OBJECT

private slots:
    void proxyChoice_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<QString>("url"); // asked for by a TCP socket
        QTest::addColumn<bool>("proxied");
        const QByteArray name = "https_proxy";
        const QString proxy = u"http://proxy.example:3128"_s;
        const QString none;
        const QString photos = u"https://photos.example"_s;
        QTest::newRow("HTTPS_PROXY") << QByteArray("HTTPS_PROXY") << proxy << none << photos << true;
        QTest::newRow("no scheme") << name << u"proxy.example:3128"_s << none << photos << true;
        QTest::newRow("tagged wss") << name << proxy << none << u"wss://photos.example"_s << true;
        QTest::newRow("no_proxy list") << name << proxy << u"a.org, .photos.example"_s << photos << false;
        QTest::newRow("no_proxy: domain") << name << proxy << u"example"_s << photos << false;
        QTest::newRow("no_proxy: longer") << name << proxy << u"hotos.example"_s << photos << true;
        QTest::newRow("subnet") << name << proxy << u"10.0.0.0/8"_s << u"https://10.1.2.3"_s << false;
        QTest::newRow("no_proxy: *") << name << proxy << u"*"_s << photos << false;
        QTest::newRow("none named") << name << none << none << photos << false;
    }

    void proxyChoice()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QString, proxy);
        QFETCH(QString, noProxy);
        QFETCH(QString, url);
        QFETCH(bool, proxied);
        qunsetenv("https_proxy");
        qunsetenv("HTTPS_PROXY");
        qputenv(variable, proxy.toUtf8());
        qputenv("no_proxy", noProxy.toUtf8());
        const QNetworkProxy named(QNetworkProxy::HttpProxy, u"proxy.example"_s, 3128);
        const QNetworkProxyQuery query(QUrl(url), QNetworkProxyQuery::TcpSocket);
        QCOMPARE(SystemProxy().queryProxy(query), QList{proxied ? named : QNetworkProxy(QNetworkProxy::NoProxy)});
    }

    void everythingGoesThroughTheNamedProxy()
    {
        SilentProxy proxy;
        TestWebSocketServer wss;
        TestHttpsServer server;
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY(proxy.listen());
        QVERIFY(wss.listen());
        QVERIFY(server.listen());
        server.setResponse(u"/42"_s, 200, "42");
        qputenv("https_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
        SystemProxy::install();
        // Qt never proxies a loopback name: the servers go by a name that only the proxy resolves.
        const QString ws = u"glimdeck.test:%1"_s.arg(wss.port());
        const QString https = u"glimdeck.test:%1"_s.arg(server.port());
        WebSocketClient client(QUrl(u"wss://"_s + ws), nullptr);
        QVERIFY(QSignalSpy(&client, &WebSocketClient::connected).wait(5000));
        QNetworkAccessManager network;
        FileDownloader picture(QUrl(u"https://%1/42"_s.arg(https)), &network, nullptr);
        QVERIFY(QSignalSpy(&picture, &FileDownloader::downloaded).wait(5000));
        QAction entry;
        ClientCounter counter(&entry, u"https://%1/42"_s.arg(https), nullptr);
        counter.refreshClientCount();
        QTRY_COMPARE(entry.text(), u"Clients connectés : 42"_s);
        QCOMPARE(proxy.tunnels(), (QStringList{ws, https, https}));
    }
};

QTEST_MAIN(TestSystemProxy)
#include "tst_systemproxy.moc"
