#include "core/overlay.h"
#include "core/session.h"
#include "core/speechengines.h"
#include "testsupport.h"

// One photo's whole road: a real download from loopback, a real overlay on a real display, the
// end and the self-deletion, on every way out; and what speaking the message costs that road.
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
    void speechCostsThePhotosNothing_data();
    void speechCostsThePhotosNothing();

public:
    static QList<Overlay*> overlays();
    static int visibleOverlays();

private:
    TestHttpsServer m_server;
};

QList<Overlay*> TestSession::overlays()
{
    QList<Overlay*> result;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* overlay = qobject_cast<Overlay*>(widget))
            result.append(overlay);
    }
    return result;
}

int TestSession::visibleOverlays()
{
    int visible = 0;
    for (Overlay* overlay : overlays())
        visible += overlay->isVisible() ? 1 : 0;
    return visible;
}

void TestSession::initTestCase()
{
    QVERIFY(TestCertificates::trustInProcess());
    QVERIFY(m_server.listen());
    m_server.setResponse(QStringLiteral("/photo.png"), 200, TestSupport::png(QSize(320, 200), Qt::green));
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
    auto* session = new Session(url, QStringLiteral("Salut"), 200, nullptr, nullptr);
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
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QString(), 300, nullptr, nullptr);
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
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QString(), 600, nullptr, nullptr);
    QSignalSpy finishedSpy(session, &Session::finished);
    QElapsedTimer clock;
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(overlays().size(), 1, 10000);
    clock.start();
    TestSupport::xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    QTRY_VERIFY(!overlays().first()->isVisible());
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

// Each session with speech borrows an engine and writes what its voice set-up found.
void TestSession::speechEngineOnlyWhenSwitchedOn()
{
    QFETCH(bool, ttsEnabled);
    SpeechEngines engines(1);
    LogCapture log;
    engines.prepare();
    QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Moteur de synthèse vocale prêt")) == 1, 20000);
    auto* session = new Session(m_server.url(QStringLiteral("/photo.png")), QStringLiteral("Bonjour"), 1000,
                                ttsEnabled ? &engines : nullptr, nullptr);
    QSignalSpy destroyedSpy(session, &QObject::destroyed);
    session->start();
    QTRY_COMPARE_WITH_TIMEOUT(destroyedSpy.size(), 1, 10000);
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix precis :")), ttsEnabled ? 1 : 0);
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix FR :")), ttsEnabled ? 1 : 0);
    QCOMPARE(log.countStartingWith(QStringLiteral("Nombre de voix:")), ttsEnabled ? 1 : 0);
    QCOMPARE(log.lines(QtWarningMsg).filter(QStringLiteral("ImageSession")), QStringList());
}

// Three photos with speech switched on, while the engines are still being built, reach the
// screen about as soon as one without speech, and the event loop never stalls meanwhile. Exact
// figures come from the benchmark; this guards the order of magnitude.
void TestSession::speechCostsThePhotosNothing_data()
{
    QTest::addColumn<QString>("backEnd");
    QTest::addColumn<QString>("message");
    QTest::newRow("installed engine") << QString() << QString();
    // Flite engines synthesising together would crash the program.
    QTest::newRow("flite, all three speaking")
        << QStringLiteral("flite") << QStringLiteral("Une nouvelle photo vient d'arriver, regardez donc. ").repeated(6);
}

void TestSession::speechCostsThePhotosNothing()
{
    QFETCH(QString, backEnd);
    QFETCH(QString, message);
    const QUrl photo = m_server.url(QStringLiteral("/photo.png"));
    const auto road = [&photo, &message](SpeechEngines* engines) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 3; ++i)
            (new Session(photo, message, 500, engines, nullptr))->start();
        const qint64 elapsed = QTest::qWaitFor([] { return visibleOverlays() == 3; }, 10000) ? clock.elapsed() : -1;
        return QTest::qWaitFor([] { return overlays().isEmpty(); }, 10000) ? elapsed : -1;
    };
    const qint64 without = road(nullptr);

    qint64 longestStall = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { longestStall = qMax(longestStall, sinceTick.restart()); });
    sinceTick.start();
    ticker.start(10);
    LogCapture log;
    SpeechEngines engines(3, backEnd);
    const qint64 with = road(&engines);
    QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(QStringLiteral("Moteur de synthèse vocale prêt")) > 0, 20000);
    qDebug() << "Three photos on screen after" << without << "ms without speech," << with << "ms with;"
             << "longest stall of the event loop" << longestStall << "ms";
    QVERIFY(without >= 0 && with >= 0);
    QVERIFY(with < without + 1000);
    QVERIFY(longestStall < 1000);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
