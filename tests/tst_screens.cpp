// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "testsupport.h"
#include "tray/traymanager.h"

using namespace Qt::StringLiterals;

// A display of its own with two monitors: A, the primary one, and B to its right.
class TestScreens : public QObject
{
    Q_OBJECT

    TestHttpsServer m_server;
    QTemporaryDir m_home;
    const QRect m_a{0, 0, 1280, 1024};
    const QRect m_b{1280, 0, 800, 600};
    const QStringList m_addB{"--setmonitor", "B", "800/211x600/159+1280+0", "none"};

    static QList<QRect> shown()
    {
        QList<QRect> places;
        for (Overlay* overlay : TestSupport::windows<Overlay>())
            places << overlay->geometry();
        std::sort(places.begin(), places.end(), [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
        return places;
    }
    static QMenu* screenMenu(GlimDeck& glimDeck)
    {
        QMenu* tray = glimDeck.findChild<TrayManager*>()->findChild<QSystemTrayIcon*>()->contextMenu();
        for (QAction* action : tray->actions()) {
            if (action->text() == "Écran")
                return action->menu();
        }
        return nullptr;
    }
    void send(GlimDeck& glimDeck) { QVERIFY(TestSupport::showPhoto(&glimDeck, m_server.url(u"/p"_s), QString())); }

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::setUpClient(m_server, m_home.path()));
        m_server.setResponse("/p", 200, TestSupport::png(QSize(64, 48), Qt::red));
        // Xvfb takes monitors only once a client has asked for its screens, as Qt has.
        QVERIFY(TestSupport::runs("xrandr", {"--setmonitor", "A", "1280/339x1024/271+0+0", "screen"}));
        QVERIFY(TestSupport::runs("xrandr", m_addB));
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
    }

    void eachChoiceWhereItBelongs_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QList<QRect>>("places");
        QTest::newRow("Écran principal") << 0 << QList<QRect>{m_a};
        QTest::newRow("Écran de la souris") << 1 << QList<QRect>{m_b};
        QTest::newRow("Tous les écrans") << 2 << QList<QRect>{m_a, m_b};
    }

    void eachChoiceWhereItBelongs()
    {
        QFETCH(int, choice);
        QFETCH(QList<QRect>, places);
        TestSupport::xdotool({"mousemove", "1600", "300"});
        auto glimDeck = std::make_unique<GlimDeck>();
        screenMenu(*glimDeck)->actions().at(choice)->trigger();
        send(*glimDeck);
        QTRY_COMPARE(shown(), places);
        QCOMPARE(glimDeck->findChildren<Session*>().size(), 1);
        StdoutCapture output;
        TestSupport::xdotool({"key", "Escape"});
        QTRY_COMPARE(shown(), QList<QRect>());
        QCOMPARE(glimDeck->findChildren<Session*>().size(), 1); // hidden before its time
        QCOMPARE(output.text().count("Overlay fermé avec la touche Échap\n"), 1);
        glimDeck = std::make_unique<GlimDeck>(); // kept across a restart
        QVERIFY(screenMenu(*glimDeck)->actions().at(choice)->isChecked());
    }

    void screenRemovedWhileShown()
    {
        GlimDeck glimDeck;
        screenMenu(glimDeck)->actions().at(2)->trigger();
        send(glimDeck);
        QTRY_COMPARE(shown(), (QList<QRect>{m_a, m_b}));
        QVERIFY(TestSupport::runs("xrandr", {"--delmonitor", "B"}));
        QTRY_COMPARE(QGuiApplication::screens().size(), 1);
        QCOMPARE(shown(), QList<QRect>{m_a});
        QVERIFY(TestSupport::runs("xrandr", m_addB));
        QTRY_COMPARE(QGuiApplication::screens().size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(glimDeck.findChildren<Session*>().isEmpty(), 10000);
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
