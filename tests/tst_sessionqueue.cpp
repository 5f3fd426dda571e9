#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "logcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QSet>
#include <QTest>

// The coordinator's queue, fed as the server connection feeds it, with real sessions
// downloading from loopback.
class TestSessionQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void threeAtOnceTheRestInArrivalOrder();
    void duplicatesGiveTwoSessions();
    void invalidAddressIsDropped();
    void neverMoreThanThreeOnScreen();
    void speechSwitchTakesEffectAtSessionStart();

private:
    void handle(GlimDeck& glimDeck, const QString& path, const QString& message = QString());
    static int overlaysOnScreen();

    TestHttpsServer* m_server = nullptr;
};

void TestSessionQueue::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
}

void TestSessionQueue::init()
{
    delete m_server;
    m_server = new TestHttpsServer(this);
    QVERIFY(m_server->listen());
    TestHttpsServer::Response slowFailure;
    slowFailure.delayMs = 400;
    slowFailure.body = "pas une image";
    for (const char* path : {"/1", "/2", "/3", "/4", "/5"})
        m_server->setResponse(QString::fromLatin1(path), slowFailure);
}

void TestSessionQueue::handle(GlimDeck& glimDeck, const QString& path, const QString& message)
{
    const QString url = path.isEmpty() ? QString() : m_server->url(path).toString();
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, url), Q_ARG(QString, message)));
}

int TestSessionQueue::overlaysOnScreen()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<Overlay*>(widget) && widget->isVisible() ? 1 : 0;
    return count;
}

void TestSessionQueue::threeAtOnceTheRestInArrivalOrder()
{
    // The first ends at once, the next two much later: the waiting ones must start one by one,
    // oldest first, as places free up.
    m_server->setResponse(QStringLiteral("/1"), 200, "pas une image");
    TestHttpsServer::Response slow;
    slow.delayMs = 1500;
    slow.body = "pas une image";
    m_server->setResponse(QStringLiteral("/2"), slow);
    m_server->setResponse(QStringLiteral("/3"), slow);
    GlimDeck glimDeck;
    for (const char* path : {"/1", "/2", "/3", "/4", "/5"})
        handle(glimDeck, QString::fromLatin1(path));
    QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
    QTRY_COMPARE(m_server->requestedPaths().size(), 3);
    QStringList first = m_server->requestedPaths();
    first.sort();
    QCOMPARE(first, (QStringList{"/1", "/2", "/3"}));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 4, 5000);
    QCOMPARE(m_server->requestedPaths().last(), QStringLiteral("/4"));
    QCOMPARE(glimDeck.findChildren<Session*>().size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 5, 10000);
    QCOMPARE(m_server->requestedPaths().last(), QStringLiteral("/5"));
    QTRY_COMPARE_WITH_TIMEOUT(glimDeck.findChildren<Session*>().size(), 0, 10000);
}

void TestSessionQueue::duplicatesGiveTwoSessions()
{
    GlimDeck glimDeck;
    handle(glimDeck, QStringLiteral("/1"));
    handle(glimDeck, QStringLiteral("/1"));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths(), (QStringList{"/1", "/1"}), 5000);
}

void TestSessionQueue::invalidAddressIsDropped()
{
    LogCapture log;
    GlimDeck glimDeck;
    handle(glimDeck, QString());
    QVERIFY(log.contains(QStringLiteral("GlimDeck::handleGlimDeck url invalide: \"\"")));
    QCOMPARE(glimDeck.findChildren<Session*>().size(), 0);
    // The queue still works after it.
    handle(glimDeck, QStringLiteral("/2"));
    QTRY_COMPARE(m_server->requestedPaths(), QStringList{"/2"});
}

void TestSessionQueue::neverMoreThanThreeOnScreen()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    m_server->setResponse(QStringLiteral("/photo.png"), 200, png);

    GlimDeck glimDeck;
    for (int i = 0; i < 5; ++i)
        handle(glimDeck, QStringLiteral("/photo.png"));
    QSet<QWidget*> seen;
    int most = 0;
    QElapsedTimer clock;
    clock.start();
    while (seen.size() < 5 && clock.elapsed() < 20000) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<Overlay*>(widget) && widget->isVisible())
                seen.insert(widget);
        }
        most = qMax(most, overlaysOnScreen());
        QTest::qWait(20);
    }
    QCOMPARE(seen.size(), 5);
    QCOMPARE(most, 3);
    QTRY_COMPARE_WITH_TIMEOUT(overlaysOnScreen(), 0, 10000);
}

void TestSessionQueue::speechSwitchTakesEffectAtSessionStart()
{
    LogCapture log;
    TestHttpsServer::Response never;
    never.never = true;
    m_server->setResponse(QStringLiteral("/4"), never); // its session lives until an engine is lent
    GlimDeck glimDeck;
    for (const char* path : {"/1", "/2", "/3", "/4"})
        handle(glimDeck, QString::fromLatin1(path));
    QVERIFY(QMetaObject::invokeMethod(&glimDeck, "setIsTTSEnabled", Q_ARG(bool, true)));
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), 0);
    // Only the waiting photo's session is created after the switch, and it alone borrows an engine.
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestedPaths().size(), 4, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), 1, 20000);
}

QTEST_MAIN(TestSessionQueue)
#include "tst_sessionqueue.moc"
