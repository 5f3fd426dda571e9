// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "core/overlaypool.h"
#include "testsupport.h"

#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using TestSupport::xdotool;

// Bare or under the window manager GLIMDECK_TEST_WM names.
class TestOverlay : public QObject
{
    Q_OBJECT

    QProcess m_windowManager;
    OverlayStack m_stack;
    OverlayPool m_pool{&m_stack};

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("GLIMDECK_TEST_WM"))
            return;
        m_windowManager.start(qEnvironmentVariable("GLIMDECK_TEST_WM"), {});
        QWidget probe;
        probe.show();
        QTRY_VERIFY_WITH_TIMEOUT(!probe.windowHandle()->frameMargins().isNull(), 10000);
    }

    void cleanupTestCase()
    {
        m_windowManager.terminate();
        m_windowManager.waitForFinished();
    }

    void scalesToFit_data()
    {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        const auto of = [&screen](qreal w, qreal h) { return QSize(screen.width() * w, screen.height() * h); };
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("the screen's size") << screen << screen;
        QTest::newRow("wider") << of(2, 0.5) << of(1, 0.25);
        QTest::newRow("taller") << of(0.5, 2) << of(0.25, 1);
        QTest::newRow("smaller") << screen / 8 << screen;
    }

    void scalesToFit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        QPixmap pixmap(picture);
        pixmap.fill(Qt::red);
        QPainter(&pixmap).fillRect(0, 0, 1, 1, Qt::blue); // smoothed away when scaled
        const QImage onLabel = Overlay(&pixmap, nullptr).findChild<QLabel*>()->pixmap().toImage();
        QCOMPARE(onLabel.size(), shown);
        if (picture == shown)
            QCOMPARE(onLabel.pixelColor(0, 0), QColor(Qt::blue));
        QCOMPARE(onLabel.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
    }

    void photosOverTheApplication()
    {
        QDialog window;
        QLineEdit edit(&window);
        QPushButton button("Sous la photo", &window);
        QSignalSpy clicked(&button, &QPushButton::clicked);
        QSignalSpy escaped(&window, &QDialog::rejected);
        QPixmap red(QGuiApplication::primaryScreen()->size());
        QPixmap green(red.size());
        red.fill(Qt::red);
        green.fill(Qt::green);
        StdoutCapture output;
        const std::unique_ptr<Overlay> first(m_pool.show(&red, nullptr, nullptr));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint centre = button.mapToGlobal(button.rect().center());
        const auto shown = [&] { return QGuiApplication::primaryScreen()->grabWindow().toImage().pixelColor(centre); };
        QTRY_COMPARE(shown(), QColor(Qt::red));
        window.raise();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::qWait(300); // and not only for a moment
        QCOMPARE(shown(), QColor(Qt::red));
        const std::unique_ptr<Overlay> second(m_pool.show(&green, nullptr, nullptr));
        QTRY_COMPARE(shown(), QColor(Qt::green));

        xdotool({"type", "--delay", "20", "photo"});
        QTRY_COMPARE(edit.text(), u"photo"_s);
        xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
        QTRY_COMPARE(clicked.size(), 1);

        xdotool({"key", "Escape"});
        QTRY_COMPARE(shown(), QColor(Qt::red));
        xdotool({"key", "Escape"});
        QTRY_VERIFY(!first->isVisible());
        QCOMPARE(escaped.size(), 0);
        xdotool({"key", "Escape"});
        QTRY_COMPARE(escaped.size(), 1);
        QCOMPARE(output.text().count("Overlay fermé avec la touche Échap\n"), 2);
    }

    void escapeHeldElsewhereWarnsOnce()
    {
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_grab_key(other, 0, root, 0, 9, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);     // 9: Escape, by default
        std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // a round trip
        LogCapture log;
        QVERIFY(QTest::qWaitForWindowExposed(std::unique_ptr<Overlay>(m_pool.show(nullptr, nullptr, nullptr)).get()));
        xcb_disconnect(other);
        QCOMPARE(log.lines(QtWarningMsg).size(), 1);
    }
};

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
