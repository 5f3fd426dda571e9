// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "glimdeck.h"
#include "testsupport.h"

#include <QtDBus>

using namespace Qt::StringLiterals;

// Photos wait while the user is busy, on a real X display under openbox and a private session
// bus on which python3-dbusmock plays the notification service and GNOME's screen saver.
class TestPhotoHold : public QObject
{
    Q_OBJECT

    enum Busy { FullScreen, Inhibited, ScreenSaver, GnomeScreenSaver, Banners };

    QProcess m_windowManager;
    QProcess m_mocks[3];
    QTemporaryDir m_home;
    TestHttpsServer m_server;
    QDateTime m_now = QDateTime::currentDateTime();
    QWidget m_window;

    static bool run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    }
    // A call on the session bus, true when it was answered.
    static bool call(const QString& service, const QString& path, const QString& interface, const QString& method,
                     const QVariantList& arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message).type() == QDBusMessage::ReplyMessage;
    }
    static const inline QString NOTIFICATIONS = u"org.freedesktop.Notifications"_s;
    static const inline QString SAVER = u"org.freedesktop.ScreenSaver"_s, GNOME_SAVER = u"org.gnome.ScreenSaver"_s;
    static QString path(const QString& service) { return u'/' + QString(service).replace(u'.', u'/'); }

    bool setBusy(Busy busy, bool on)
    {
        switch (busy) {
        case FullScreen:
            return run(u"wmctrl"_s, {u"-i"_s, u"-r"_s, QString::number(m_window.winId()), u"-b"_s,
                                     (on ? u"add,fullscreen"_s : u"remove,fullscreen"_s)});
        case Inhibited:
            return call(NOTIFICATIONS, path(NOTIFICATIONS), u"org.freedesktop.DBus.Properties"_s, u"Set"_s,
                        {NOTIFICATIONS, u"Inhibited"_s, QVariant::fromValue(QDBusVariant(on))});
        case ScreenSaver:
            return call(SAVER, path(SAVER), SAVER, u"SetActive"_s, {on});
        case GnomeScreenSaver:
            return call(GNOME_SAVER, path(GNOME_SAVER), GNOME_SAVER, u"SetActive"_s, {on});
        case Banners:
            return run(u"gsettings"_s, {u"set"_s, u"org.gnome.desktop.notifications"_s, u"show-banners"_s,
                                        (on ? u"false"_s : u"true"_s)});
        }
        return false;
    }

    void send(GlimDeck& glimDeck, const QString& path)
    {
        QVERIFY(QMetaObject::invokeMethod(&glimDeck, "handleGlimDeck", Q_ARG(QString, m_server.url(path).toString()),
                                          Q_ARG(QString, path), Q_ARG(QString, u"r1"_s)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestCertificates::trustInProcess() && m_server.listen());
        qputenv("GSETTINGS_BACKEND", "keyfile");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        m_windowManager.start(u"openbox"_s, {});
        const QString mock = u"dbusmock"_s, python = u"/usr/bin/python3"_s;
        m_mocks[0].start(python, {u"-m"_s, mock, u"--template"_s, u"notification_daemon"_s});
        m_mocks[1].start(python, {u"-m"_s, mock, u"--template"_s, u"gnome_screensaver"_s});
        m_mocks[2].start(python, {u"-m"_s, mock, SAVER, path(SAVER), SAVER}); // freedesktop's has no template
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        for (const QString& service : {NOTIFICATIONS, GNOME_SAVER, SAVER})
            QTRY_VERIFY(bus->isServiceRegistered(service));
        const QString mockInterface = u"org.freedesktop.DBus.Mock"_s;
        QVERIFY(call(NOTIFICATIONS, path(NOTIFICATIONS), mockInterface, u"AddProperty"_s,
                     {NOTIFICATIONS, u"Inhibited"_s, QVariant::fromValue(QDBusVariant(false))}));
        QVERIFY(call(SAVER, path(SAVER), mockInterface, u"AddMethod"_s,
                     {SAVER, u"GetActive"_s, u""_s, u"b"_s, u"ret = getattr(self, 'active', False)"_s}));
        QVERIFY(call(SAVER, path(SAVER), mockInterface, u"AddMethod"_s,
                     {SAVER, u"SetActive"_s, u"b"_s, u""_s,
                      uR"(self.active = args[0]; self.EmitSignal("", "ActiveChanged", "b", args))"_s}));
        m_window.show(); // the active window, which goes full screen
        QTRY_VERIFY_WITH_TIMEOUT(!m_window.windowHandle()->frameMargins().isNull(), 10000); // managed
        for (int photo = 1; photo <= 5; ++photo)
            m_server.setResponse(u"/%1"_s.arg(photo), 200, TestSupport::png(QSize(32, 32), Qt::blue));
    }

    void cleanupTestCase()
    {
        for (QProcess& process : m_mocks)
            process.kill(), process.waitForFinished();
        m_windowManager.terminate(), m_windowManager.waitForFinished();
    }

    void heldWhileBusyThenTheNewestRecentShown_data()
    {
        QTest::addColumn<Busy>("busy");
        QTest::addColumn<int>("fresh"); // of five photos, those that came in the last 10 minutes
        QTest::newRow("full-screen window") << FullScreen << 4;
        QTest::newRow("notifications inhibited") << Inhibited << 2;
        QTest::newRow("screen saver") << ScreenSaver << 4;
        QTest::newRow("GNOME screen saver") << GnomeScreenSaver << 4;
        QTest::newRow("GNOME banners off") << Banners << 4;
    }

    // Five photos while busy, the first ones 11 minutes before the fresh ones: the three newest fresh ones are shown.
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
            send(glimDeck, u"/%1"_s.arg(photo));
            shown << u"/%1"_s.arg(photo);
        }
        shown = shown.mid(5 - std::min(fresh, 3));
        QTest::qWait(500);
        QCOMPARE(m_server.requestedPaths().size(), before);
        QVERIFY(TestSupport::windows<Overlay>().isEmpty());
        QVERIFY(setBusy(busy, false));
        QTRY_COMPARE(TestSupport::windows<Overlay>().size(), shown.size());
        QStringList downloaded = m_server.requestedPaths().mid(before); // side by side
        downloaded.sort();
        QCOMPARE(downloaded, shown);
        QCOMPARE(log.count(u"Fin de la retenue : 5 photos retenues, %1 montrées."_s.arg(shown.size())), 1);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::windows<Overlay>().isEmpty(), 10000);
    }
};

QTEST_MAIN(TestPhotoHold)
#include "tst_photohold.moc"
