#include "core/overlay.h"
#include "testsupport.h"

#include <xcb/xcb.h>

#include <cstdlib>

using TestSupport::xdotool;

namespace {

const QByteArray ESCAPE_LINE = "Overlay fermé avec la touche Échap\n";

// The application a user works in while photos come and go.
class Underneath : public QWidget
{
public:
    Underneath()
    {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(&m_edit);
        layout->addWidget(&m_button);
        resize(300, 200);
        move(QGuiApplication::primaryScreen()->geometry().center() - rect().center());
        m_edit.installEventFilter(this);
    }
    QLineEdit m_edit;
    QPushButton m_button{QStringLiteral("Sous la photo")};
    int m_escapes = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        m_escapes += event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        return QWidget::eventFilter(watched, event);
    }
};

QPixmap filled(const QColor& colour)
{
    QPixmap pixmap(QGuiApplication::primaryScreen()->size());
    pixmap.fill(colour);
    return pixmap;
}

QColor onScreen(const QPoint& point)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, point.x(), point.y(), 1, 1).toImage().pixelColor(0, 0);
}

} // namespace

// The overlay on a real X display, bare or under the window manager that GLIMDECK_TEST_WM names,
// given real input through XTest.
class TestOverlay : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString manager = qEnvironmentVariable("GLIMDECK_TEST_WM");
        if (manager.isEmpty())
            return;
        m_windowManager.start(manager, {});
        QVERIFY(m_windowManager.waitForStarted());
        const auto managed = [] {
            QProcess xprop;
            xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            xprop.waitForFinished();
            return xprop.readAllStandardOutput().contains("window id");
        };
        QTRY_VERIFY_WITH_TIMEOUT(managed(), 10000);
    }

    void cleanupTestCase()
    {
        m_windowManager.terminate();
        m_windowManager.waitForFinished();
    }

    void scalesToFit_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        const QSize screen = QGuiApplication::primaryScreen()->size();
        QTest::newRow("screen size, unchanged") << screen << screen;
        QTest::newRow("wider: full width")
            << QSize(screen.width() * 2, screen.height() / 2) << QSize(screen.width(), screen.height() / 4);
        QTest::newRow("taller: full height")
            << QSize(screen.width() / 2, screen.height() * 2) << QSize(screen.width() / 4, screen.height());
        QTest::newRow("smaller, same shape: enlarged") << screen / 8 << screen;
    }

    void scalesToFit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        QImage image(picture, QImage::Format_RGB32);
        image.fill(Qt::red);
        // A marked corner tells an unscaled copy from a smoothed one.
        image.setPixel(0, 0, qRgb(0, 0, 255));
        const QPixmap pixmap = QPixmap::fromImage(image);
        Overlay overlay(&pixmap, nullptr);
        const QPixmap onLabel = overlay.findChild<QLabel*>()->pixmap();
        QCOMPARE(onLabel.size(), shown);
        if (picture == QGuiApplication::primaryScreen()->size())
            QCOMPARE(onLabel.toImage().pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(onLabel.toImage().pixelColor(shown.width() / 2, shown.height() / 2), QColor(Qt::red));
    }

    void clicksAndKeysReachTheWindowUnderneath()
    {
        Underneath window;
        showActive(window);
        QSignalSpy clicked(&window.m_button, &QPushButton::clicked);
        const QPixmap red = filled(Qt::red);
        Overlay overlay(&red, nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&overlay));
        const QPoint button = window.m_button.mapToGlobal(window.m_button.rect().center());
        QTRY_COMPARE(onScreen(button), QColor(Qt::red));

        xdotool({QStringLiteral("mousemove"), QString::number(button.x()), QString::number(button.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
        QTRY_COMPARE(clicked.size(), 1);
        window.m_edit.setFocus();
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("photo")});
        QTRY_COMPARE(window.m_edit.text(), QStringLiteral("photo"));
        QVERIFY(window.isActiveWindow());
    }

    // Escape reaches the photos though they never have the focus, hides the one on top, and is
    // given back to the application once no photo is left.
    void escapeHidesTheTopmostOnceEach()
    {
        Underneath window;
        showActive(window);
        const QPoint centre = window.geometry().center();
        const QPixmap red = filled(Qt::red);
        const QPixmap green = filled(Qt::green);
        StdoutCapture output;
        Overlay first(&red, nullptr);
        Overlay second(&green, nullptr);
        QTRY_COMPARE(onScreen(centre), QColor(Qt::green));

        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY(!second.isVisible());
        QVERIFY(first.isVisible());
        QCOMPARE(output.text().count(ESCAPE_LINE), 1);
        QTRY_COMPARE(onScreen(centre), QColor(Qt::red));
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY(!first.isVisible());
        QCOMPARE(output.text().count(ESCAPE_LINE), 2);
        QCOMPARE(window.m_escapes, 0);

        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_COMPARE(window.m_escapes, 1);
        QCOMPARE(output.text().count(ESCAPE_LINE), 2);
    }

    // Another program holds Escape: one warning, and the photo is shown all the same.
    void escapeHeldElsewhereWarnsOnce()
    {
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        const xcb_keycode_t escape = 9; // in the X server's default key map
        xcb_grab_key(other, 0, root, 0, escape, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr)); // the grab is in place
        LogCapture log;
        {
            Overlay overlay(nullptr, nullptr);
            QVERIFY(QTest::qWaitForWindowExposed(&overlay));
        }
        xcb_disconnect(other);
        QCOMPARE(log.lines(QtWarningMsg).size(), 1);
    }

    void staysAboveWindowsOpenedOrRaised_data()
    {
        QTest::addColumn<bool>("opened");
        QTest::newRow("window opened") << true;
        QTest::newRow("window raised") << false;
    }

    void staysAboveWindowsOpenedOrRaised()
    {
        QFETCH(bool, opened);
        Underneath window;
        window.setStyleSheet(QStringLiteral("background: blue"));
        if (!opened)
            showActive(window);
        const QPixmap red = filled(Qt::red);
        Overlay overlay(&red, nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&overlay));
        const QPoint centre = window.geometry().center();
        QTRY_COMPARE(onScreen(centre), QColor(Qt::red));

        if (opened)
            showActive(window);
        window.raise();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_COMPARE(onScreen(window.geometry().center()), QColor(Qt::red));
        // And it stays so, not only for a moment.
        QTest::qWait(300);
        QCOMPARE(onScreen(window.geometry().center()), QColor(Qt::red));
    }

private:
    void showActive(Underneath& window);

    QProcess m_windowManager;
};

void TestOverlay::showActive(Underneath& window)
{
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.m_edit.setFocus();
}

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
