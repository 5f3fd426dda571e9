// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "core/pause.h"
#include "core/recentphotos.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "testsupport.h"
#include "tray/autostartentry.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

class TestTrayManager : public QObject
{
    Q_OBJECT

    enum Entry { SEND, LAUNCH, SPEECH, CLIENTS = 4, RECENT = 6, PAUSE };
    using Checks = QList<bool>;
    static QSystemTrayIcon* icon(TrayManager& tray) { return tray.findChild<QSystemTrayIcon*>(); }
    static QMenu* menu(TrayManager& tray) { return icon(tray)->contextMenu(); }
    static QString clients(TrayManager& tray) { return menu(tray)->actions().at(CLIENTS)->text(); }
    static QStringList texts(QMenu* menu)
    {
        QStringList shown;
        for (QAction* action : menu->actions()) {
            if (action->isVisible())
                shown << action->text();
        }
        return shown;
    }
    static QString tip(TrayManager& tray) { return icon(tray)->toolTip(); }
    static QImage iconImage(TrayManager& tray) { return icon(tray)->icon().pixmap(22).toImage(); }
    qint64 m_offsetMs = 0;
    QDateTime now() const { return QDateTime::currentDateTime().addMSecs(m_offsetMs); }
    void setNow(const QDateTime& time) { m_offsetMs = QDateTime::currentDateTime().msecsTo(time); }

public:
    static void initMain() { qputenv("QT_SCALE_FACTOR", "2"); } // the tray shows the @2x drawings
    Q_INVOKABLE void openUrl(const QUrl& url) { m_opened.append(url); }

private slots:
    void initTestCase()
    {
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "needs a notification area: trayer under Xvfb");
        QVERIFY(TestSupport::setUpClient(m_server, m_config.path()));
        QDesktopServices::setUrlHandler(u"https"_s, this, "openUrl");
    }

    void menuAndConnectionState()
    {
        SKIP_WITHOUT_TLS_SERVER();
        m_server.setResponse(u"/slow"_s, 200, "1", 600);
        TrayManager tray(false, m_server.url(u"/slow"_s).toString(), nullptr);
        const auto shows = [&tray](const QString& name) {
            const QImage png(u":/icons/data/icons/%1@2x.png"_s.arg(name));
            return iconImage(tray) == png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        QVERIFY(icon(tray)->isVisible());
        QVERIFY(tip(tray).isEmpty());
        QVERIFY(shows(u"icon"_s));
        for (bool connected : {false, false, true}) {
            tray.setConnected(connected);
            QCOMPARE(tip(tray), connected ? u"GlimDeck — connecté"_s : u"GlimDeck — déconnecté"_s);
            QVERIFY(shows(connected ? u"icon"_s : u"icon-red"_s));
        }
        QCOMPARE(texts(menu(tray)), (QStringList{"Envoyer des images", "Lancer au démarrage", "TextToSpeech", "",
                                                 "Clients connectés : —", "", "Quitter"}));
        QVERIFY(!menu(tray)->actions().at(CLIENTS)->isEnabled());
        menu(tray)->actions().at(SEND)->trigger();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(HTTPS_BASE_URL)});
        QSignalSpy displaySpy(&tray, &TrayManager::displayWindow);
        emit icon(tray)->activated(QSystemTrayIcon::Context);
        QCOMPARE(displaySpy.size(), 0);
        emit icon(tray)->activated(QSystemTrayIcon::Trigger);
        emit icon(tray)->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(displaySpy.size(), 2);
        emit menu(tray)->aboutToShow(); // asked twice: the first reply comes last and has the last word
        QTRY_COMPARE(m_server.requestedPaths().count(u"/slow"_s), 1);
        m_server.setResponse(u"/slow"_s, 200, "2");
        emit menu(tray)->aboutToShow();
        QTRY_COMPARE(clients(tray), u"Clients connectés : 2"_s);
        QTRY_COMPARE(clients(tray), u"Clients connectés : 1"_s);
    }

    void counter_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("shown");
        QTest::newRow("spaces, sign, base 10") << 200 << u" -010\n"_s << u"-10"_s;
        QTest::newRow("with a word") << 200 << u"42 users"_s << u"?"_s;
        QTest::newRow("past its bound") << 200 << QString(5000, u'1') << u"? (erreur)"_s;
        QTest::newRow("HTTP error") << 500 << u"oops"_s << u"? (erreur)"_s;
    }

    void counter()
    {
        SKIP_WITHOUT_TLS_SERVER();
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, shown);
        m_server.setResponse(u"/users"_s, status, body.toUtf8());
        const QString url = m_server.url(u"/users"_s).toString();
        LogCapture log;
        TrayManager tray(false, url, nullptr);
        emit menu(tray)->aboutToShow();
        QCOMPARE(clients(tray), u"Clients connectés : …"_s);
        QTRY_COMPARE_WITH_TIMEOUT(clients(tray), u"Clients connectés : "_s + shown, 10000);
        QCOMPARE(m_server.authorizations().last(), TestSupport::expectedAuthorization());
        const QString unread = u"Could not parse client count response from \"%1\" data: \"%2\""_s;
        QCOMPARE(log.count(unread.arg(url, body)), int(shown == u"?"_s));
        QCOMPARE(log.countStartingWith(u"Client count request failed:"_s), int(shown.endsWith(u')')));
    }

    void autostart_data()
    {
        QTest::addColumn<QString>("before"); // under the configuration folder
        QTest::addColumn<Checks>("checked"); // and the entry starts us: at start, per click
        QTest::newRow("nothing") << u""_s << Checks{false, true, false};
        const QString entry = u"autostart/tst_traymanager.desktop"_s;
        QTest::newRow("left by another copy") << entry << Checks{true, false, true};
        QTest::newRow("a file where the folder goes") << u"autostart"_s << Checks{false, false, false};
    }

    void autostart()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows starts programs from the Run key (runKey)");
#endif
        QFETCH(QString, before);
        QFETCH(Checks, checked);
        QVERIFY(QDir(m_config.path()).removeRecursively());
        if (!before.isEmpty())
            QVERIFY(TestSupport::writeFile(m_config.filePath(before), "Exec=/old/tst_traymanager\n"));
        LogCapture log;
        TrayManager tray(false, nullptr);
        QAction* launch = menu(tray)->actions().at(LAUNCH);
        const QByteArray exec = "\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + '\n';
        const QString entry = m_config.filePath(u"autostart/tst_traymanager.desktop"_s);
        for (bool on : checked) {
            QCOMPARE(launch->isChecked(), on);
            QCOMPARE(TestSupport::readFile(entry).contains(exec), on);
            launch->trigger();
        }
        const int failures = checked.contains(true) ? 0 : 3;
        QCOMPARE(log.lines(QtWarningMsg), QStringList(failures, u"Failed to enable autostart"_s));
    }

    void runKey_data()
    {
        QTest::addColumn<QString>("before"); // under this executable's name
        QTest::addColumn<Checks>("checked"); // and the value names this executable
        QTest::newRow("nothing") << u""_s << Checks{false, true, false};
        QTest::newRow("left by another copy") << u"C:\\old\\tst_traymanager.exe"_s << Checks{true, false, true};
    }

    // Read back through the registry path, as Windows reads it at log-on.
    void runKey()
    {
#ifndef Q_OS_WIN
        QSKIP("the Run key is Windows'");
#endif
        QFETCH(QString, before);
        QFETCH(Checks, checked);
        const QString key = u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"_s;
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
        const auto value = [&] { return QSettings(key, QSettings::NativeFormat).value(name); };
        const auto restore = qScopeGuard([&] { QSettings(key, QSettings::NativeFormat).remove(name); });
        QSettings(key, QSettings::NativeFormat).remove(name);
        if (!before.isEmpty())
            QSettings(key, QSettings::NativeFormat).setValue(name, before);
        LogCapture log;
        TrayManager tray(false, nullptr);
        QAction* launch = menu(tray)->actions().at(LAUNCH);
        const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        for (bool on : checked) {
            QCOMPARE(launch->isChecked(), on);
            QCOMPARE(value() == QVariant(path), on);
            launch->trigger();
        }
        QCOMPARE(log.lines(QtWarningMsg), QStringList());
    }

    void runValue()
    {
        QCOMPARE(AutostartEntry::runValueName(u"/opt/my.app.exe"_s), u"my"_s);
        QCOMPARE(AutostartEntry::runValueData(u"C:/Apps/glimdeck.exe"_s), u"C:\\Apps\\glimdeck.exe"_s);
        QCOMPARE(AutostartEntry::runValueData(u"C:/My Apps/glimdeck.exe"_s), u"\"C:\\My Apps\\glimdeck.exe\""_s);
        QCOMPARE(AutostartEntry::desktopExec(u"C:/My Apps/glimdeck.exe"_s), u"\"C:/My Apps/glimdeck.exe\""_s);
    }

    // The fourth session waits for a place; switched on at the end, a voice set up while silent would show.
    void speechEntryReachesNextSession()
    {
        SKIP_WITHOUT_TLS_SERVER();
        m_server.setResponse(u"/4"_s, {200, {}, {}, 0, true}); // never answered: its session lives on
        for (int toggles : {0, 1, 2}) {
            LogCapture log;
            GlimDeck glimDeck;
            QAction* speech = menu(*glimDeck.findChild<TrayManager*>())->actions().at(SPEECH);
            for (int i = 1; i <= 4; ++i)
                QVERIFY(TestSupport::showPhoto(&glimDeck, m_server.url(u"/%1"_s.arg(i)), u"Bonjour"_s));
            for (int i = 0; i < toggles; ++i)
                speech->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(m_server.requestedPaths().count(u"/4"_s), toggles + 1, 10000);
            speech->setChecked(true);
            QTRY_VERIFY_WITH_TIMEOUT(log.lines().indexOf(QRegularExpression(u".*prêt : (\\d+) sur \\1"_s)) >= 0, 90000);
            QTRY_COMPARE_WITH_TIMEOUT(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2, 10000);
            QTest::qWait(500);
            QCOMPARE(log.countStartingWith(u"Nombre de voix precis :"_s), toggles % 2);
            QCOMPARE(log.count(u"TTS Enabled: true"_s), toggles / 2 + 1);
        }
    }

    void pause_data()
    {
        QTest::addColumn<int>("entry"); // of the pause menu
        QTest::addColumn<QString>("until");
        QTest::newRow("half an hour") << 0 << u"10:30"_s;
        QTest::newRow("an hour") << 1 << u"11:00"_s;
        QTest::newRow("tomorrow morning") << 2 << u"08:00"_s;
    }

    void pause()
    {
        QFETCH(int, entry);
        QFETCH(QString, until);
        const QString file = m_config.filePath(u"pause.json"_s);
        QVERIFY(TestSupport::writeFile(file, "{\"until\":"));
        setNow(QDateTime(QDate::currentDate(), QTime(10, 0)));
        LogCapture log;
        Pause pause(file, [this] { return now(); });
        QCOMPARE(log.lines(QtWarningMsg), QStringList{u"Pause illisible, ignorée : \"%1\""_s.arg(file)});
        RecentPhotos recent;
        TrayManager tray(false, nullptr);
        tray.addPhotoMenus(&recent, &pause);
        tray.setConnected(true);
        const QImage plain = iconImage(tray);
        QCOMPARE(texts(menu(tray)).mid(RECENT), (QStringList{"Photos récentes", "Pause", "Quitter"}));
        QMenu* pauseMenu = menu(tray)->actions().at(PAUSE)->menu();
        const QStringList choices{"30 minutes", "1 heure", "Jusqu'à demain 8 h"};
        QCOMPARE(texts(pauseMenu), choices);
        pauseMenu->actions().at(entry)->trigger();
        QCOMPARE(tip(tray), u"GlimDeck — connecté, en pause jusqu'à "_s + until);
        QVERIFY(iconImage(tray) != plain);
        QCOMPARE(texts(pauseMenu), choices + QStringList{"Reprendre"});

        setNow(pause.until().addMSecs(-300));
        Pause restarted(file, [this] { return now(); });
        TrayManager second(false, nullptr);
        second.addPhotoMenus(&recent, &restarted);
        second.setConnected(false);
        QCOMPARE(tip(second), u"GlimDeck — déconnecté, en pause jusqu'à "_s + until);
        QTRY_COMPARE(tip(second), u"GlimDeck — déconnecté"_s);
        QCOMPARE(TestSupport::readFile(file), QByteArray("{}"));

        pauseMenu->actions().at(choices.size())->trigger(); // "Reprendre"
        QCOMPARE(tip(tray), u"GlimDeck — connecté"_s);
        QCOMPARE(iconImage(tray), plain);
        QCOMPARE(texts(pauseMenu), choices);
    }

    void recentPhotos()
    {
        setNow(QDateTime(QDate::currentDate(), QTime(10, 0)));
        RecentPhotos recent;
        Pause pause(m_config.filePath(u"none.json"_s), [this] { return now(); });
        TrayManager tray(false, nullptr);
        tray.addPhotoMenus(&recent, &pause);
        tray.setConnected(true);
        const QImage plain = iconImage(tray);
        for (int i = 1; i <= 11; ++i)
            recent.add({QUrl(u"https://h/%1"_s.arg(i)), i == 11 ? QString(45, u'x') : u"m&%1"_s.arg(i),
                        i % 2 ? u"r1"_s : QString(), now().addSecs(i * 60), 0});
        QMenu* list = menu(tray)->actions().at(RECENT)->menu();
        const QStringList newest{"• 10:11 — r1 — " + QString(40, u'x') + "…", "• 10:10 — m&&10", "• 10:09 — r1 — m&&9"};
        QCOMPARE(texts(list).size(), 10);
        QCOMPARE(texts(list).mid(0, 3), newest);
        QCOMPARE(tip(tray), u"GlimDeck — connecté\n10 photos non vues"_s);
        QVERIFY(iconImage(tray) != plain);
        emit list->aboutToShow();
        QCOMPARE(tip(tray), u"GlimDeck — connecté"_s);
        QCOMPARE(iconImage(tray), plain);
        QCOMPARE(texts(list).mid(0, 3), newest);
        recent.markExpired(recent.entries().at(1).photo.recentId);
        emit list->aboutToHide();
        QTRY_COMPARE(texts(list).mid(0, 2), (QStringList{newest[0].mid(2), "10:10 — m&&10 (expirée)"}));
        QSignalSpy chosen(&tray, &TrayManager::recentPhotoChosen);
        list->actions().at(1)->trigger();
        QCOMPARE(chosen.value(0), QVariantList{recent.entries().at(1).photo.recentId});
    }

    void recentPhotoShownAgain()
    {
        SKIP_WITHOUT_TLS_SERVER();
        m_server.setResponse(u"/again"_s, 200, TestSupport::png(QSize(32, 32), Qt::red));
        LogCapture log;
        GlimDeck glimDeck;
        QMenu* list = menu(*glimDeck.findChild<TrayManager*>())->actions().at(RECENT + 1)->menu();
        QVERIFY(TestSupport::showPhoto(&glimDeck, m_server.url(u"/again"_s), u"Bonjour"_s));
        QTRY_COMPARE(texts(list).value(0).mid(5), u" — Bonjour"_s);
        QTRY_VERIFY_WITH_TIMEOUT(TestSupport::windows<Overlay>().isEmpty(), 10000);
        list->actions().at(0)->trigger();
        QTRY_COMPARE(m_server.requestedPaths().count(u"/again"_s), 2);
        QTRY_COMPARE(TestSupport::windows<Overlay>().size(), 1);
        m_server.setResponse(u"/again"_s, 404, "<html>");
        list->actions().at(0)->trigger();
        QTRY_VERIFY(texts(list).value(0).endsWith(u"Bonjour (expirée)"_s));
        QCOMPARE(log.count(u"Photo récente introuvable, marquée expirée : QUrl(\"%1\")"_s.arg(
                     m_server.url(u"/again"_s).toString())),
                 1);
    }

private:
    QTemporaryDir m_config;
    QList<QUrl> m_opened;
    TestHttpsServer m_server;
};

QTEST_MAIN(TestTrayManager)
#include "tst_traymanager.moc"
