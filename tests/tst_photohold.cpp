// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "glimdeck.h"
#include "testsupport.h"

#include <QtDBus>

using namespace Qt::StringLiterals;

// Under openbox, with python3-dbusmock's desktop services on a private session bus.
class TestPhotoHold : public QObject
{
    Q_OBJECT

    enum Busy { FullScreen, Inhibited, ScreenSaver, GnomeScreenSaver, Banners };

    QProcess m_helpers[4];
    QTemporaryDir m_home;
    TestHttpsServer m_server;
    QDateTime m_now = QDateTime::currentDateTime();
    QWidget m_window;

    static bool call(const QString& service, const QString& interface, const QString& method,
                     const QVariantList& arguments)
    {
        const QString path = u'/' + QString(service).replace(u'.', u'/');
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message).type() == QDBusMessage::ReplyMessage;
    }
    static const inline QString NOTIFICATIONS = "org.freedesktop.Notifications";
    static const inline QString SAVER = "org.freedesktop.ScreenSaver";
    static const inline QString GNOME_SAVER = "org.gnome.ScreenSaver";

    bool setBusy(Busy busy, bool on)
    {
        switch (busy) {
        case FullScreen:
            return TestSupport::runs("wmctrl", {"-i", "-r", QString::number(m_window.winId()), "-b",
                                                (on ? u"add,fullscreen"_s : u"remove,fullscreen"_s)});
        case Inhibited:
            return call(NOTIFICATIONS, u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
                        {NOTIFICATIONS, u"Inhibited"_s, QVariant::fromValue(QDBusVariant(on))});
        case ScreenSaver:
            return call(SAVER, SAVER, u"SetActive"_s, {on});
        case GnomeScreenSaver:
            return call(GNOME_SAVER, GNOME_SAVER, u"SetActive"_s, {on});
        case Banners:
            return TestSupport::runs(
                "gsettings", {"set", "org.gnome.desktop.notifications", "show-banners", (on ? u"false"_s : u"true"_s)});
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::setUpClient(m_server, m_home.path()));
        qputenv("GSETTINGS_BACKEND", "keyfile");
        m_helpers[0].start("openbox", {});
        const QList<QStringList> mocks{{"--template", "notification_daemon"},
                                       {"--template", "gnome_screensaver"},
                                       {SAVER, "/org/freedesktop/ScreenSaver", SAVER}}; // the last with no template
        for (int i = 0; i < 3; ++i)
            m_helpers[i + 1].start(u"/usr/bin/python3"_s, QStringList{"-m", "dbusmock"} + mocks.at(i));
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        for (const QString& service : {NOTIFICATIONS, GNOME_SAVER, SAVER})
            QTRY_VERIFY(bus->isServiceRegistered(service));
        const QString mock = "org.freedesktop.DBus.Mock";
        QVERIFY(call(NOTIFICATIONS, mock, u"AddProperty"_s,
                     {NOTIFICATIONS, u"Inhibited"_s, QVariant::fromValue(QDBusVariant(false))}));
        QVERIFY(
            call(SAVER, mock, u"AddMethod"_s, {SAVER, "GetActive", "", "b", "ret = getattr(self, 'active', False)"}));
        QVERIFY(call(SAVER, mock, u"AddMethod"_s,
                     {SAVER, "SetActive", "b", "",
                      uR"(self.active = args[0]; self.EmitSignal("", "ActiveChanged", "b", args))"_s}));
        m_window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!m_window.windowHandle()->frameMargins().isNull(), 10000);
        for (int photo = 1; photo <= 5; ++photo)
            m_server.setResponse(u"/%1"_s.arg(photo), 200, TestSupport::png(QSize(32, 32), Qt::blue));
    }

    void cleanupTestCase()
    {
        for (QProcess& process : m_helpers) {
            process.kill();
            process.waitForFinished();
        }
    }

    void heldWhileBusyThenTheNewestRecentShown_data()
    {
        QTest::addColumn<Busy>("busy");
        QTest::addColumn<int>("fresh"); // of five, those of the last 10 minutes
        QTest::newRow("full-screen window") << FullScreen << 4;
        QTest::newRow("notifications inhibited") << Inhibited << 2;
        QTest::newRow("screen saver") << ScreenSaver << 4;
        QTest::newRow("GNOME screen saver") << GnomeScreenSaver << 4;
        QTest::newRow("GNOME banners off") << Banners << 4;
    }

    void heldWhileBusyThenTheNewestRecentShown()
    {
        QFETCH(Busy, busy);
        QFETCH(int, fresh);
        LogCapture log;
        GlimDeck glimDeck([this] { return m_now; });
        QTRY_COMPARE(log.count(u"Ne pas déranger : réglage GNOME show-banners suivi."_s), 1);
        QVERIFY(setBusy(busy, true));
        QTRY_COMPARE(log.lines().filter(u"photos retenues."_s).size(), 1);
        const int before = int(m_server.requestedPaths().size());
        QStringList shown;
        for (int photo = 1; photo <= 5; ++photo) {
            m_now = m_now.addSecs(photo == 6 - fresh ? 11 * 60 : 1);
            shown << u"/%1"_s.arg(photo);
            QVERIFY(TestSupport::showPhoto(&glimDeck, m_server.url(shown.last()), shown.last(), u"r1"_s));
        }
        shown = shown.mid(5 - std::min(fresh, 3));
        QTest::qWait(500);
        QCOMPARE(m_server.requestedPaths().size(), before);
        QVERIFY(TestSupport::windows<Overlay>().isEmpty());
        QVERIFY(setBusy(busy, false));
        QTRY_COMPARE(TestSupport::windows<Overlay>().size(), shown.size());
        QStringList downloaded = m_server.requestedPaths().mid(before);
        downloaded.sort();
        QCOMPARE(downloaded, shown);
        QCOMPARE(log.count(u"Fin de la retenue : 5 photos retenues, %1 montrées."_s.arg(shown.size())), 1);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::windows<Overlay>().isEmpty(), 10000);
    }
};

QTEST_MAIN(TestPhotoHold)
#include "tst_photohold.moc"
