#include "core/overlay.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

// The overlay under the offscreen platform, whose screen is 800 x 800.
class TestOverlay : public QObject
{
    Q_OBJECT

private slots:
    void windowFlagsAndSize();
    void scalesToFit_data();
    void scalesToFit();
    void escapeHidesAndSaysSoOnce();
};

void TestOverlay::windowFlagsAndSize()
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    Overlay overlay(nullptr, nullptr);
    QVERIFY(overlay.isVisible());
    QCOMPARE(int(overlay.windowFlags()), 0x4080B);
    QVERIFY(overlay.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(overlay.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(overlay.size(), screen);
    auto* label = overlay.findChild<QLabel*>();
    QVERIFY(label);
    QCOMPARE(label->geometry(), QRect(QPoint(0, 0), screen));
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QVERIFY(label->pixmap().isNull());
}

void TestOverlay::scalesToFit_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("screen size, unchanged") << QSize(800, 800) << QSize(800, 800);
    QTest::newRow("wider: full width") << QSize(1600, 400) << QSize(800, 200);
    QTest::newRow("taller: full height") << QSize(300, 1200) << QSize(200, 800);
    QTest::newRow("smaller: enlarged") << QSize(100, 50) << QSize(800, 400);
    QTest::newRow("larger, same shape") << QSize(3840, 3840) << QSize(800, 800);
}

void TestOverlay::scalesToFit()
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

void TestOverlay::escapeHidesAndSaysSoOnce()
{
    QTemporaryFile output;
    QVERIFY(output.open());
    std::fflush(stdout);
    const int savedStdout = dup(fileno(stdout));
    dup2(output.handle(), fileno(stdout));

    Overlay overlay(nullptr, nullptr);
    QTest::keyClick(&overlay, Qt::Key_A);
    const bool visibleAfterOtherKey = overlay.isVisible();
    QTest::keyClick(&overlay, Qt::Key_Escape);
    const bool visibleAfterEscape = overlay.isVisible();

    std::fflush(stdout);
    dup2(savedStdout, fileno(stdout));
    close(savedStdout);
    QVERIFY(visibleAfterOtherKey);
    QVERIFY(!visibleAfterEscape);
    output.seek(0);
    // The test framework's own lines share standard output; ours must stand there once.
    const QByteArray printed = output.readAll();
    QCOMPARE(printed.count("Overlay fermé avec la touche Échap\n"), 1);
    QVERIFY(printed.endsWith("\nOverlay fermé avec la touche Échap\n")
            || printed == "Overlay fermé avec la touche Échap\n");
}

QTEST_MAIN(TestOverlay)
#include "tst_overlay.moc"
