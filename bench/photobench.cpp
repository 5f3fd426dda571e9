// SPDX-License-Identifier: GPL-3.0-or-later
#include "photobench.h"

#include "core/overlay.h"
#include "core/session.h"
#include "glimdeck.h"
#include "net/endpoints.h"
#include "net/websocketclient.h"
#include "protocol/servermessages.h"
#include "testhttpsserver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <ctime>

namespace {

double millisecondsSince(const QElapsedTimer& clock, qint64 startNs)
{
    return double(clock.nsecsElapsed() - startNs) / 1e6;
}

} // namespace

double PhotoBench::median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

PhotoBench::PhotoBench(TestHttpsServer* server, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_glimDeck(new GlimDeck)
    , m_client(m_glimDeck->findChild<WebSocketClient*>())
{
    m_clock.start();
    qApp->installEventFilter(this);
    connect(&m_ticker, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        m_longestStall = qMax(m_longestStall, now - m_lastTick);
        m_lastTick = now;
        const qint64 cpu = threadCpuNs();
        m_busiestGapNs = qMax(m_busiestGapNs, cpu - m_lastTickCpuNs);
        m_lastTickCpuNs = cpu;
    });
    m_lastTickCpuNs = threadCpuNs();
    m_lastTick = m_clock.elapsed();
    m_ticker.start(5);
}

void PhotoBench::setSpeech(bool on)
{
    QMetaObject::invokeMethod(m_glimDeck, "setIsTTSEnabled", Q_ARG(bool, on));
}

double PhotoBench::longestStallMs()
{
    const double longest = double(m_longestStall);
    m_longestStall = 0;
    m_lastTick = m_clock.elapsed(); // the benchmark's own work since the last tick is not the program's
    return longest;
}

double PhotoBench::busiestGapMs()
{
    const double busiest = double(m_busiestGapNs) / 1e6;
    m_busiestGapNs = 0;
    m_lastTickCpuNs = threadCpuNs();
    return busiest;
}

qint64 PhotoBench::threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double PhotoBench::idleStallMs(int ms)
{
    longestStallMs();
    QElapsedTimer idle;
    idle.start();
    waitUntil([&idle, ms] { return idle.elapsed() >= ms; }, ms + 500);
    return longestStallMs();
}

double PhotoBench::threeAtOnce(const QString& path, int rounds)
{
    QList<double> figures;
    for (int round = 0; round < rounds; ++round) {
        const int shownBefore = m_overlaysShown;
        const qint64 start = m_clock.nsecsElapsed();
        for (int i = 0; i < 3; ++i)
            broadcast(path);
        waitUntil([this, shownBefore] { return m_overlaysShown - shownBefore >= 3; }, 30000);
        const double elapsed = millisecondsSince(m_clock, start);
        waitUntil([this] { return m_glimDeck->findChildren<Session*>().isEmpty(); }, 10000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        figures.append(m_overlaysShown - shownBefore >= 3 ? elapsed : 1e9);
    }
    return median(figures);
}

// The broadcast's own trip over the link is the relay's one-way delay.
double PhotoBench::untilRequested(const QString& path, int oneWayMs, const std::function<void()>& onArrival,
                                  const std::function<bool()>& done)
{
    // Timed on the server's thread, as the request arrives.
    std::atomic<qint64> requestedAt = -1;
    const auto watch = connect(
        m_server, &TestHttpsServer::requested, this,
        [&](const QString& requested) {
            qint64 notYet = -1;
            if (requested == path)
                requestedAt.compare_exchange_strong(notYet, m_clock.nsecsElapsed());
        },
        Qt::DirectConnection);
    const qint64 leftServer = m_clock.nsecsElapsed();
    QTimer::singleShot(oneWayMs, Qt::PreciseTimer, this, onArrival);
    waitUntil([&] { return requestedAt >= 0 && done(); }, 30000);
    disconnect(watch);
    return requestedAt >= 0 ? double(requestedAt - leftServer) / 1e6 : 1e9;
}

QList<double> PhotoBench::requestDelays(const QString& path, int count, int oneWayMs)
{
    QList<double> delays;
    for (int i = 0; i < count; ++i) {
        // A free place in the queue, so that the photo starts as soon as it arrives.
        waitUntil([this] { return m_glimDeck->findChildren<Session*>().size() < 3; }, 10000);
        const int shownBefore = m_overlaysShown;
        delays.append(untilRequested(
            path, oneWayMs, [this, path] { broadcast(path); },
            [this, shownBefore] { return m_overlaysShown > shownBefore; }));
    }
    waitUntil([this] { return m_glimDeck->findChildren<Session*>().isEmpty(); }, 10000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return delays;
}

QList<double> PhotoBench::requestDelaysOnNewConnections(const QString& path, int count, int oneWayMs)
{
    QList<double> delays;
    for (int i = 0; i < count; ++i) {
        QNetworkAccessManager manager;
        QNetworkReply* reply = nullptr;
        delays.append(untilRequested(
            path, oneWayMs, [&] { reply = manager.get(QNetworkRequest(QUrl(HTTPS_BASE_URL + path))); },
            [&reply] { return reply && reply->isFinished(); }));
        delete reply;
    }
    return delays;
}

PhotoBench::~PhotoBench()
{
    qApp->removeEventFilter(this);
    delete m_glimDeck;
}

bool PhotoBench::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && qobject_cast<Overlay*>(watched)) {
        m_shownAt = m_clock.nsecsElapsed();
        ++m_overlaysShown;
    } else if (event->type() == QEvent::Paint && m_paintedAt < 0 && qobject_cast<Overlay*>(watched)) {
        m_paintedAt = m_clock.nsecsElapsed();
    }
    return QObject::eventFilter(watched, event);
}

// The text arrives as the socket would hand it over, so the measured road includes parsing,
// the address check and the queued hop to the coordinator.
void PhotoBench::broadcast(const QString& path)
{
    BroadcastPhoto photo;
    photo.image = path;
    photo.message = QStringLiteral("Bonjour");
    QMetaObject::invokeMethod(m_client, "onTextMessageReceived", Q_ARG(QString, ServerMessages::photoText(photo)));
}

void PhotoBench::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    // Blocks between events (the 5 ms ticker wakes it): the overload with a time limit ignores
    // WaitForMoreEvents and spins, taking a core from the program it measures.
    while (!done() && waited.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

double PhotoBench::endToEndOnce(const QString& path, double* paintedMs)
{
    m_shownAt = -1;
    m_paintedAt = -1;
    const qint64 start = m_clock.nsecsElapsed();
    broadcast(path);
    waitUntil([this] { return m_shownAt >= 0; }, 30000);
    const double shownMs = double(m_shownAt - start) / 1e6;
    waitUntil([this] { return m_paintedAt >= 0; }, 2000);
    *paintedMs = m_paintedAt >= 0 ? double(m_paintedAt - start) / 1e6 : shownMs;
    // The next round starts on an empty screen, after the session has deleted itself.
    waitUntil([this] { return m_glimDeck->findChildren<Session*>().isEmpty(); }, 10000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return shownMs;
}

double PhotoBench::downloadOnce(const QString& path)
{
    QNetworkAccessManager manager;
    const qint64 start = m_clock.nsecsElapsed();
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(HTTPS_BASE_URL + path)));
    waitUntil([reply] { return reply->isFinished(); }, 30000);
    const double elapsed = millisecondsSince(m_clock, start);
    const QByteArray body = reply->readAll();
    delete reply;
    if (body.isEmpty())
        qWarning() << "Téléchargement de référence vide :" << path;
    return elapsed;
}

PhotoBench::Figures PhotoBench::measure(const QString& path, const QByteArray& bytes, int rounds)
{
    const QSize screenSize = QGuiApplication::primaryScreen()->size();
    QList<double> endToEnd, painted, download, decode, scale;
    for (int round = 0; round <= rounds; ++round) {
        double paintedMs = 0;
        const double shownMs = endToEndOnce(path, &paintedMs);
        const double downloadMs = downloadOnce(path);

        qint64 start = m_clock.nsecsElapsed();
        QPixmap pixmap;
        pixmap.loadFromData(bytes);
        const double decodeMs = millisecondsSince(m_clock, start);

        start = m_clock.nsecsElapsed();
        const QPixmap scaled = pixmap.scaled(screenSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const double scaleMs = millisecondsSince(m_clock, start);
        if (round == 0 || scaled.isNull())
            continue; // the first round loads plugins and opens the TLS session cache
        endToEnd.append(shownMs);
        painted.append(paintedMs);
        download.append(downloadMs);
        decode.append(decodeMs);
        scale.append(scaleMs);
    }
    return Figures{median(endToEnd), median(painted), median(download), median(decode), median(scale)};
}

void PhotoBench::showAll(const QStringList& paths, int count)
{
    const int shownBefore = m_overlaysShown;
    for (int i = 0; i < count; ++i)
        broadcast(paths.at(i % paths.size()));
    waitUntil(
        [this, shownBefore, count] {
            return m_overlaysShown - shownBefore == count && m_glimDeck->findChildren<Session*>().isEmpty();
        },
        count * 3000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The program settles a moment after the last photo; read it settled, as it idles.
    QElapsedTimer settle;
    settle.start();
    waitUntil([&settle] { return settle.elapsed() > SETTLE_MS; }, SETTLE_MS + 500);
    if (m_overlaysShown - shownBefore != count)
        qWarning() << "Photos montrées :" << m_overlaysShown - shownBefore << "sur" << count;
}

QPair<qint64, qint64> PhotoBench::runThroughQueue(const QStringList& paths, int count)
{
    showAll(paths, WARM_UP_PHOTOS);
    const qint64 before = residentKiB();
    showAll(paths, count);
    return qMakePair(before, residentKiB());
}

qint64 PhotoBench::residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    qint64 resident = -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            resident = line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return resident;
}
