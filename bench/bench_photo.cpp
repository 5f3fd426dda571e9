#include "net/endpoints.h"
#include "photobench.h"
#include "process/largebuffers.h"
#include "testcertificates.h"
#include "testhttpsserver.h"

#include <QApplication>
#include <QBuffer>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QScreen>

#include <cstdio>

namespace {

// Smooth light, shapes and sensor-like noise, so that both formats compress as a photo does.
QImage photoLike(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(70, 130, 200));
    sky.setColorAt(1, QColor(230, 190, 120));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(2026);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor(random.bounded(256), random.bounded(256), random.bounded(256), 90));
        painter.drawEllipse(QPoint(random.bounded(size.width()), random.bounded(size.height())),
                            random.bounded(20, 400), random.bounded(20, 300));
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(9)) - 4;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) + n, 255), qBound(0, qBlue(p) + n, 255));
        }
    }
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return bytes;
}

void printFigures(const char* name, const QByteArray& bytes, const PhotoBench::Figures& f)
{
    std::printf("%-4s %6.1f MiB  end to end %7.1f ms (painted %7.1f)  floor %7.1f ms = download %6.1f + decode %6.1f"
                " + scale %6.1f  ratio %.2f (goal <= 1.25)\n",
                name, double(bytes.size()) / (1024 * 1024), f.endToEndMs, f.paintedMs, f.floorMs(), f.downloadMs,
                f.decodeMs, f.scaleMs, f.endToEndMs / f.floorMs());
}

} // namespace

int main(int argc, char* argv[])
{
    releaseLargeBuffersToSystem();
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Photo road benchmark: end to end against its floor, and memory"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Measured rounds per format."), QStringLiteral("n"),
                      QStringLiteral("10")});
    parser.addOption({QStringLiteral("photos"), QStringLiteral("Photos through the queue for the memory figure."),
                      QStringLiteral("n"), QStringLiteral("300")});
    parser.process(application);

    // Pictures come from the build's own server address, so the benchmark serves it on loopback.
    const QUrl base(HTTPS_BASE_URL);
    if (base.host() != QLatin1String("localhost") || base.port() <= 0) {
        std::fprintf(stderr, "This build's server is %s; the benchmark needs a build for localhost:PORT.\n",
                     qPrintable(SERVER_HOST));
        return 2;
    }
    if (!TestCertificates::trustInProcess())
        return 2;
    TestHttpsServer server;
    if (!server.listen(quint16(base.port()))) {
        std::fprintf(stderr, "Port %d is taken on loopback (is the demo running?).\n", base.port());
        return 2;
    }
    TestHttpsServer::Response silent;
    silent.never = true;
    server.setResponse(QStringLiteral("/"), silent); // the coordinator's own connection waits, quietly

    const QImage picture = photoLike(QSize(3840, 2160));
    const QByteArray jpeg = encoded(picture, "JPEG");
    const QByteArray png = encoded(picture, "PNG");
    TestHttpsServer::Response response;
    response.body = jpeg;
    response.contentType = "image/jpeg";
    server.setResponse(QStringLiteral("/bench.jpg"), response);
    response.body = png;
    response.contentType = "image/png";
    server.setResponse(QStringLiteral("/bench.png"), response);

    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::printf("3840 x 2160 pictures to a %d x %d screen (%s), medians of %d rounds after one warm-up\n",
                screen.width(), screen.height(), qPrintable(QGuiApplication::platformName()),
                parser.value(QStringLiteral("rounds")).toInt());
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    PhotoBench bench(&server);
    const int rounds = parser.value(QStringLiteral("rounds")).toInt();
    const PhotoBench::Figures jpegFigures = bench.measure(QStringLiteral("/bench.jpg"), jpeg, rounds);
    printFigures("JPEG", jpeg, jpegFigures);
    const PhotoBench::Figures pngFigures = bench.measure(QStringLiteral("/bench.png"), png, rounds);
    printFigures("PNG", png, pngFigures);
    bench.longestStallMs();
    const double threeOff = bench.threeAtOnce(QStringLiteral("/bench.jpg"), rounds);
    const double stallOffMs = bench.longestStallMs();
    std::fflush(stdout);

    const int photos = parser.value(QStringLiteral("photos")).toInt();
    const auto memory = bench.runThroughQueue({QStringLiteral("/bench.jpg"), QStringLiteral("/bench.png")}, photos);
    const double growthMiB = double(memory.second - memory.first) / 1024;
    std::printf("%d photos through the queue: resident %.1f MiB before, %.1f MiB after, %+.1f MiB (goal within 5)\n",
                photos, double(memory.first) / 1024, double(memory.second) / 1024, growthMiB);

    // The same roads with speech switched on just before, while its engines are still being built.
    bench.longestStallMs();
    bench.setSpeech(true);
    const double firstThreeOn = bench.threeAtOnce(QStringLiteral("/bench.jpg"), 1);
    const double threeOn = bench.threeAtOnce(QStringLiteral("/bench.jpg"), rounds);
    const PhotoBench::Figures speechFigures = bench.measure(QStringLiteral("/bench.jpg"), jpeg, rounds);
    const double stallMs = bench.longestStallMs();
    std::printf("JPEG road with speech %7.1f ms, without %7.1f ms: %+.1f ms (goal within 100)\n",
                speechFigures.endToEndMs, jpegFigures.endToEndMs, speechFigures.endToEndMs - jpegFigures.endToEndMs);
    std::printf("3 JPEG at once with speech %7.1f ms (%.1f ms while its engines were built), without %7.1f ms:"
                " %+.1f ms (goal within 100)\n",
                threeOn, firstThreeOn, threeOff, threeOn - threeOff);
    std::printf("longest event-loop stall: %.1f ms with speech, %.1f ms without\n", stallMs, stallOffMs);

    const bool met = jpegFigures.endToEndMs <= 1.25 * jpegFigures.floorMs()
                     && pngFigures.endToEndMs <= 1.25 * pngFigures.floorMs() && qAbs(growthMiB) <= 5
                     && speechFigures.endToEndMs <= jpegFigures.endToEndMs + 100 && firstThreeOn <= threeOff + 100
                     && threeOn <= threeOff + 100;
    std::printf("%s\n", met ? "goals met" : "goals missed");
    return met ? 0 : 1;
}
