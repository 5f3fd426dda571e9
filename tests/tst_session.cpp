#include "core/overlay.h"
#include "core/session.h"
#include "logcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

// One photo's whole road: a real download from loopback, a real overlay, the end and the
// self-deletion, on every way out.
class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failuresEndOnceWithoutWindow_data();
    void failuresEndOnceWithoutWindow();
    void showsForTheDisplayTimeThenCleansUp();
    void escapeHidesButTheEndComesFromTheTimer();
    void speechEngineOnlyWhenSwitchedOn_data();
    void speechEngineOnlyWhenSwitchedOn();

public:
    static QByteArray png(const QSize& size, const QColor& colour);
    static QList<Overlay*> overlays();

private:
    TestHttpsServer m_server;
};

QByteArray TestSession::png(const QSize& size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QList<Overlay*> TestSession::overlays()
{
    QList<Overlay*> result;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* overlay = qobject_cast<Overlay*>(widget))
            result.append(overlay);
    }
    return result;
}

void TestSession::initTestCase()
{
    QVERIFY(TestCertificates::instance().isValid());
    TestCertificates::instance().trustInProcess();
    QVERIFY(m_server.listen());
    m_server.setResponse(QStringLiteral("/photo.png"), 200, png(QSize(320, 200), Qt::green));
    m_server.setResponse(QStringLiteral("/empty"), 200, QByteArray());
    m_server.setResponse(QStringLiteral("/text"), 200, "<html>pas une image</html>");
    // A few bytes that declare a 100000 x 100000 picture: 40 GB if the reader believed them.
    m_server.setResponse(QStringLiteral("/huge.ppm"), 200, "P6\n100000 100000\n255\n" + QByteArray(64, 'x'));
}

void TestSession::failuresEndOnceWithoutWindow_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("warning");
    QTest::newRow("empty download") << "/empty"
                                    << "ImageSession::onDownloaded data vide pour QUrl(\"%1\")";
    QTest::newRow("not a picture") << "/text"
                                   << "ImageSession::onDownloaded impossible de charger pixmap";
    QTest::newRow("declared size beyond the reader's limit")
        << "/huge.ppm"
        << "ImageSession::onDownloaded impossible de charger pixmap";
    QTest::newRow("invalid address") << "invalid"
                                     << "ImageSession::start url invalide: QUrl(\"%1\")";
}

void TestSession::failuresEndOnceWithoutWindow()
{
    QFETCH(QString, path);
    QFETCH(QString, warning);
    const QUrl url = path == QLatin1String("invalid") ? QUrl(QStringLiteral("https://exa mple/x")) : m_server.url(path);
    LogCapture log;
    auto* session = new Session(url, QStringLiteral("Salut"), 200, false, nullptr);
    QSignalSpy finishedSpy(session, &Session::finished);
    QSignalSpy destroyedSpy(session, &QObject::destroyed);
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(destroyedSpy.size(), 1, 10000);
    QCOMPARE(finishedSpy.size(), 1);
    QCOMPARE(finishedSpy.at(0).at(0).value<Session*>(), session);
    QCOMPARE(overlays().size(), 0);
    const QString expected = warning.contains(QLatin1String("%1")) ? warning.arg(url.toString()) : warning;
    QCOMPARE(log.lines(QtWarningMsg), QStringList{expected});
}

void TestSession::showsForTheDisplayTimeThenCleansUp()
{
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QString(), 300, false, nullptr);
    QSignalSpy finishedSpy(session, &Session::finished);
    QSignalSpy destroyedSpy(session, &QObject::destroyed);
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(overlays().size(), 1, 10000);
    QPointer<Overlay> overlay = overlays().first();
    QVERIFY(overlay->isVisible());
    QCOMPARE(finishedSpy.size(), 0);

    QVERIFY(finishedSpy.wait(2000));
    // Still alive right after its end, gone after one pass of the event loop.
    QCOMPARE(destroyedSpy.size(), 0);
    QVERIFY(!overlay.isNull() && !overlay->isVisible());
    QTRY_COMPARE(destroyedSpy.size(), 1);
    QTRY_VERIFY(overlay.isNull());
    QCOMPARE(finishedSpy.size(), 1);
}

void TestSession::escapeHidesButTheEndComesFromTheTimer()
{
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QString(), 600, false, nullptr);
    QSignalSpy finishedSpy(session, &Session::finished);
    QElapsedTimer clock;
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(overlays().size(), 1, 10000);
    clock.start();
    QTest::keyClick(overlays().first(), Qt::Key_Escape);
    QVERIFY(!overlays().first()->isVisible());
    QCOMPARE(finishedSpy.size(), 0);
    QVERIFY(finishedSpy.wait(3000));
    QVERIFY(clock.elapsed() >= 500);
    QTRY_COMPARE(overlays().size(), 0);
}

void TestSession::speechEngineOnlyWhenSwitchedOn_data()
{
    QTest::addColumn<bool>("ttsEnabled");
    QTest::newRow("speech on") << true;
    QTest::newRow("speech off") << false;
}

void TestSession::speechEngineOnlyWhenSwitchedOn()
{
    QFETCH(bool, ttsEnabled);
    LogCapture log;
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QString(), 100, ttsEnabled, nullptr);
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), ttsEnabled ? 1 : 0);
    QSignalSpy destroyedSpy(session, &QObject::destroyed);
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(destroyedSpy.size(), 1, 10000);
    QCOMPARE(log.lines(QtWarningMsg).filter(QStringLiteral("ImageSession")), QStringList());
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
