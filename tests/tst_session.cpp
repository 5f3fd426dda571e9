// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/filedownloader.h"
#include "core/overlay.h"
#include "core/overlaypool.h"
#include "core/session.h"
#include "core/speechengines.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using TestSupport::windows;

// A small JPEG whose header claims 30000 x 30000 pixels.
static QByteArray hugeJpeg()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage::fromData(TestSupport::png(QSize(64, 64), Qt::gray)).save(&buffer, "JPEG");
    const qsizetype frame = bytes.indexOf("\xFF\xC0"); // then length, precision, height, width
    qToBigEndian(quint16(30000), bytes.data() + frame + 5);
    qToBigEndian(quint16(30000), bytes.data() + frame + 7);
    return bytes;
}

class TestSession : public QObject
{
    Q_OBJECT

    TestHttpsServer m_server;
    QNetworkAccessManager m_network;
    QThreadPool m_decoders;
    OverlayStack m_stack;
    OverlayPool m_pool{&m_stack};

    Session* newSession(const QUrl& url, SpeechEngines* speech = nullptr, const QString& message = "Salut")
    {
        auto* session = new Session(url, message, 600, speech, &m_network, &m_decoders, nullptr);
        session->setOverlayPool(&m_pool);
        return session;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestCertificates::trustInProcess());
        QVERIFY(m_server.listen());
        m_server.setResponse("/photo.png", 200, TestSupport::png(QSize(320, 200), Qt::green));
        m_server.setResponse("/empty", 200, QByteArray());
        m_server.setResponse("/text", 200, "<html>pas une image</html>");
        m_server.setResponse("/huge.jpg", 200, hugeJpeg()); // 1/8 of it would pass
        m_server.setResponse("/4k.png", 200, TestSupport::png(QSize(3840, 2160), Qt::green));
        m_decoders.setMaxThreadCount(1);
    }

    void everyWayOutEndsOnce_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("warning"); // %1: the address
        const QString notLoaded = "ImageSession::onDownloaded impossible de charger pixmap";
        QTest::newRow("empty") << m_server.url(u"/empty"_s) << false
                               << u"ImageSession::onDownloaded data vide pour QUrl(\"%1\")"_s;
        QTest::newRow("not a picture") << m_server.url(u"/text"_s) << false << notLoaded;
        QTest::newRow("3.6 GB declared by a JPEG") << m_server.url(u"/huge.jpg"_s) << false << notLoaded;
        QTest::newRow("invalid address") << QUrl(u"https://exa mple/x"_s) << false
                                         << u"ImageSession::start url invalide: QUrl(\"%1\")"_s;
        QTest::newRow("shown") << m_server.url(u"/photo.png"_s) << false << QString();
        QTest::newRow("hidden by Escape") << m_server.url(u"/photo.png"_s) << true << QString();
    }

    void everyWayOutEndsOnce()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, escape);
        QFETCH(QString, warning);
        LogCapture log;
        Session* session = newSession(url);
        QSignalSpy finished(session, &Session::finished);
        QSignalSpy destroyed(session, &QObject::destroyed);
        session->start();
        if (warning.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(windows<Overlay>().size(), 1, 10000);
            Overlay* overlay = windows<Overlay>().first();
            if (escape)
                TestSupport::xdotool({"key", "Escape"});
            QTRY_COMPARE(overlay->isVisible(), !escape);
            QVERIFY(finished.wait(3000));
            QVERIFY(destroyed.isEmpty()); // till the next loop pass
            QVERIFY(!overlay->isVisible());
        }
        QTRY_COMPARE_WITH_TIMEOUT(destroyed.size(), 1, 10000);
        QVERIFY(windows<Overlay>().isEmpty());
        QCOMPARE(finished, QList<QVariantList>{{QVariant::fromValue(session)}});
        QCOMPARE(log.lines(QtWarningMsg).join(u'\n'), warning.replace(u"%1"_s, url.toString()));
    }

    void endedWhileDecodingLeavesNothing_data()
    {
        QTest::addColumn<bool>("decoderBusy");
        QTest::newRow("waiting for the decoder") << true;
        QTest::newRow("being decoded") << false;
    }

    void endedWhileDecodingLeavesNothing()
    {
        QFETCH(bool, decoderBusy);
        QSemaphore busy;
        if (decoderBusy)
            m_decoders.start([&busy] { busy.acquire(); });
        LogCapture log;
        Session* session = newSession(m_server.url("/4k.png"));
        QSignalSpy finished(session, &Session::finished);
        session->start();
        QSignalSpy downloaded(session->findChild<FileDownloader*>(), &FileDownloader::downloaded);
        QVERIFY(downloaded.wait(10000));
        QCoreApplication::sendPostedEvents(session, QEvent::MetaCall); // its picture goes to the decoder
        delete session;
        busy.release();
        m_decoders.waitForDone();
        QTest::qWait(100); // what the decoder finished has had its chance to show
        QCOMPARE(windows<Overlay>().size(), 0);
        QCOMPARE(finished.size(), 0);
        QCOMPARE(log.lines(QtWarningMsg), QStringList());
    }

    // Engines still being built delay no photo; flite's engines speaking together crashed.
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
        for (int i = 0; i < 3; ++i)
            newSession(m_server.url("/photo.png"), &engines, u"Photo. "_s.repeated(40))->start();
        QTRY_COMPARE(windows<Overlay>().size(), 3);
        QTRY_VERIFY(windows<Overlay>().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(log.countStartingWith("Moteur de synthèse vocale prêt") > 0, 60000);
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
