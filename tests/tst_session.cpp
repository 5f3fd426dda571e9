// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/overlaypool.h"
#include "core/session.h"
#include "core/speechengines.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

namespace {

// A small JPEG whose header claims another size: decoding it whole would need that many pixels.
QByteArray jpegDeclaring(const QSize& declared)
{
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    QByteArray bytes = buffer.data();
    const qsizetype frame = bytes.indexOf("\xFF\xC0"); // then length, precision, height, width
    qToBigEndian(quint16(declared.height()), bytes.data() + frame + 5);
    qToBigEndian(quint16(declared.width()), bytes.data() + frame + 7);
    return bytes;
}

} // namespace

// One photo's road from a loopback download to a real display and away, and what speech costs it.
class TestSession : public QObject
{
    Q_OBJECT

    TestHttpsServer m_server;
    QNetworkAccessManager m_network;
    QThreadPool m_decoders;
    OverlayStack m_stack; // Escape reaches the photos that its pool shows
    OverlayPool m_pool{&m_stack};

private slots:
    void initTestCase()
    {
        QVERIFY(TestCertificates::trustInProcess() && m_server.listen());
        m_server.setResponse(u"/photo.png"_s, 200, TestSupport::png(QSize(320, 200), Qt::green));
        m_server.setResponse(u"/empty"_s, 200, QByteArray());
        m_server.setResponse(u"/text"_s, 200, "<html>pas une image</html>");
        m_server.setResponse(u"/huge.ppm"_s, 200, "P6\n100000 100000\n255\nxxxx"); // 40 GB if the reader believed it
        m_server.setResponse(u"/huge.jpg"_s, 200, jpegDeclaring(QSize(30000, 30000))); // 1/8 of it would pass
        m_server.setResponse(u"/4k.png"_s, 200, TestSupport::png(QSize(3840, 2160), Qt::green));
        m_decoders.setMaxThreadCount(1);
    }

    void everyWayOutEndsOnce_data()
    {
        QTest::addColumn<QString>("path");    // none: an invalid address; #escape: Escape pressed
        QTest::addColumn<QString>("warning"); // none: the photo is shown
        QTest::newRow("empty") << u"/empty"_s << "ImageSession::onDownloaded data vide pour QUrl(\"%1\")";
        QTest::newRow("not a picture") << u"/text"_s << "ImageSession::onDownloaded impossible de charger pixmap";
        QTest::newRow("40 GB declared") << u"/huge.ppm"_s << "ImageSession::onDownloaded impossible de charger pixmap";
        QTest::newRow("3.6 GB declared by a JPEG")
            << u"/huge.jpg"_s << "ImageSession::onDownloaded impossible de charger pixmap";
        QTest::newRow("invalid address") << QString() << "ImageSession::start url invalide: QUrl(\"%1\")";
        QTest::newRow("shown for the display time") << "/photo.png" << QString();
        QTest::newRow("Escape hides it, but the end comes from the timer") << "/photo.png#escape" << QString();
    }

    void everyWayOutEndsOnce()
    {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        const QUrl url = path.isEmpty() ? QUrl(u"https://exa mple/x"_s) : m_server.url(path);
        LogCapture log;
        auto* session = new Session(url, u"Salut"_s, 600, nullptr, &m_network, &m_decoders, nullptr);
        QSignalSpy finished(session, &Session::finished), destroyed(session, &QObject::destroyed);
        session->setOverlayPool(&m_pool);
        session->start();
        if (warning.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(TestSupport::windows<Overlay>().size(), 1, 10000);
            QPointer<Overlay> overlay = TestSupport::windows<Overlay>().first();
            if (url.hasFragment())
                TestSupport::xdotool({u"key"_s, u"Escape"_s});
            QTRY_COMPARE(overlay && overlay->isVisible(), !url.hasFragment());
            QVERIFY(!finished.wait(400) && finished.wait(3000));              // not before its time
            QVERIFY(destroyed.isEmpty() && overlay && !overlay->isVisible()); // till the next loop pass
        }
        QTRY_VERIFY_WITH_TIMEOUT(destroyed.size() == 1 && TestSupport::windows<Overlay>().isEmpty(), 10000);
        QCOMPARE(finished, QList<QVariantList>{{QVariant::fromValue(session)}});
        QCOMPARE(log.lines(QtWarningMsg).join(u'\n'), warning.replace(u"%1"_s, url.toString()));
    }

    void endedWhileDecodingLeavesNothing_data()
    {
        QTest::addColumn<bool>("decoderBusy"); // the picture waits for the decoder rather than being decoded
        QTest::newRow("waiting for the decoder") << true;
        QTest::newRow("being decoded") << false;
    }

    // As when the program quits: the session goes with its owner, its picture still on the decoder.
    void endedWhileDecodingLeavesNothing()
    {
        QFETCH(bool, decoderBusy);
        QSemaphore busy;
        if (decoderBusy)
            m_decoders.start([&busy] { busy.acquire(); });
        LogCapture log;
        auto* session =
            new Session(m_server.url(u"/4k.png"_s), u"Salut"_s, 600, nullptr, &m_network, &m_decoders, nullptr);
        QSignalSpy finished(session, &Session::finished);
        session->start();
        QSignalSpy downloaded(session->findChild<FileDownloader*>(), &FileDownloader::downloaded);
        QVERIFY(downloaded.wait(10000));
        QCoreApplication::sendPostedEvents(session, QEvent::MetaCall); // its picture goes to the decoder
        delete session;
        busy.release();
        m_decoders.waitForDone();
        QTest::qWait(100); // what the decoder finished has had its chance to show
        QCOMPARE(TestSupport::windows<Overlay>().size(), 0);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(log.lines(QtWarningMsg), QStringList());
    }

    // Speech, its engines still being built, delays no photo and never stalls the event loop.
    // Three photos speaking at once, on the default back end and on flite, whose engines
    // speaking together crashed.
    void threeSpeakAtOnce_data()
    {
        QTest::addColumn<QString>("backEnd");
        QTest::newRow("default") << QString();
        QTest::newRow("flite") << u"flite"_s;
    }

    void threeSpeakAtOnce()
    {
        QFETCH(QString, backEnd);
        LogCapture log;
        SpeechEngines engines(3, backEnd);
        for (int i = 0; i < 3; ++i) {
            auto* session = new Session(m_server.url(u"/photo.png"_s), u"Photo. "_s.repeated(40), 500, &engines,
                                        &m_network, &m_decoders, nullptr);
            session->start();
        }
        QTRY_COMPARE(TestSupport::windows<Overlay>().size(), 3);
        QTRY_VERIFY(TestSupport::windows<Overlay>().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith(u"Moteur de synthèse vocale prêt"_s) > 0, 60000);
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
