// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/overlay.h"
#include "core/overlaypool.h"
#include "testsupport.h"

#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using TestSupport::xdotool;

// The overlay on a real X display, bare or under the window manager GLIMDECK_TEST_WM names.
class TestOverlay : public QObject
{
    Q_OBJECT

    QProcess m_windowManager;
    OverlayStack m_stack; // this test's own: a plain Overlay takes no key
    OverlayPool m_pool{&m_stack};

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("GLIMDECK_TEST_WM"))
            return;
        m_windowManager.start(qEnvironmentVariable("GLIMDECK_TEST_WM"), {});
        QWidget probe;
        probe.show();
        QTRY_VERIFY_WITH_TIMEOUT(!probe.windowHandle()->frameMargins().isNull(), 10000); // framed: started, managed
    }

    void cleanupTestCase() { m_windowManager.terminate(), m_windowManager.waitForFinished(); }

    // Scaled to fit the screen: wider, full width; taller, full height; smaller, same shape, enlarged.
    void scalesToFit()
    {
        const QSize screen = QGuiApplication::primaryScreen()->size();
        const auto of = [&screen](qreal w, qreal h) { return QSize(screen.width() * w, screen.height() * h); };
        for (const auto& [picture, shown] :
             {std::pair(screen, screen), {of(2, 0.5), of(1, 0.25)}, {of(0.5, 2), of(0.25, 1)}, {screen / 8, screen}}) {
            QPixmap pixmap(picture);
            pixmap.fill(Qt::red);
            QPainter(&pixmap).fillRect(0, 0, 1, 1, Qt::blue); // tells an unscaled copy from a smoothed one
            const QImage onLabel = Overlay(&pixmap, nullptr).findChild<QLabel*>()->pixmap().toImage();
            QCOMPARE(onLabel.size(), shown);
            QVERIFY(picture != shown || onLabel.pixelColor(0, 0) == Qt::blue); // the screen's size: unchanged
            QCOMPARE(onLabel.pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
        }
    }

    // Windows stay beneath the photos, clicks and keys go through them, Escape hides one each, then reaches the window.
    void photosOverTheApplication()
    {
        QDialog window; // Escape closes it
        QLineEdit edit(&window);
        QPushButton button(u"Sous la photo"_s, &window);
        QSignalSpy clicked(&button, &QPushButton::clicked), escaped(&window, &QDialog::rejected);
        QPixmap red(QGuiApplication::primaryScreen()->size()), green(red.size());
        red.fill(Qt::red);
        green.fill(Qt::green);
        StdoutCapture output;
        const std::unique_ptr<Overlay> first(m_pool.show(&red, nullptr, nullptr));
        window.show(); // opened
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint centre = button.mapToGlobal(button.rect().center());
        const auto shown = [&] { return QGuiApplication::primaryScreen()->grabWindow().toImage().pixelColor(centre); };
        QTRY_COMPARE(shown(), QColor(Qt::red));
        window.raise(), window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::qWait(300); // beneath the photo all the same, and not only for a moment
        QCOMPARE(shown(), QColor(Qt::red));
        const std::unique_ptr<Overlay> second(m_pool.show(&green, nullptr, nullptr)); // over the active window
        QTRY_COMPARE(shown(), QColor(Qt::green));

        xdotool({u"type"_s, u"--delay"_s, u"20"_s, u"photo"_s});
        QTRY_COMPARE(edit.text(), u"photo"_s);
        xdotool({u"mousemove"_s, QString::number(centre.x()), QString::number(centre.y()), u"click"_s, u"1"_s});
        QTRY_COMPARE(clicked.size(), 1);

        xdotool({u"key"_s, u"Escape"_s});
        QTRY_COMPARE(shown(), QColor(Qt::red));
        xdotool({u"key"_s, u"Escape"_s});
        QTRY_VERIFY(!first->isVisible());
        QCOMPARE(escaped.size(), 0);
        xdotool({u"key"_s, u"Escape"_s});
        QTRY_COMPARE(escaped.size(), 1);
        QCOMPARE(output.text().count("Overlay fermé avec la touche Échap\n"), 2);
    }

    // Another program holds Escape: one warning, and the photo is shown all the same.
    void escapeHeldElsewhereWarnsOnce()
    {
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_grab_key(other, 0, root, 0, 9, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);     // 9: Escape, by default
        std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // the grab is in place
        LogCapture log;
        QVERIFY(QTest::qWaitForWindowExposed(
            std::unique_ptr<Overlay>(m_pool.show(nullptr, nullptr, nullptr)).get())); // and gone again
        xcb_disconnect(other);
        QCOMPARE(log.lines(QtWarningMsg).size(), 1);
    }
};

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
