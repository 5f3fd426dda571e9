// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTimer>

#include <functional>

class GlimDeck;
class TestHttpsServer;
class WebSocketClient;

// Times one photo's road from the broadcast text reaching the server connection to its overlay
// on screen, beside the floor of its parts (download, decode, scale) measured on the same bytes,
// then runs a long series through the queue and reads the resident memory around it.
class PhotoBench : public QObject
{
    Q_OBJECT

public:
    // Two full screens of three, so that the allocator has seen the queue's peak before.
    static constexpr int WARM_UP_PHOTOS = 6;
    static constexpr int SETTLE_MS = 2000;

    struct Figures
    {
        double endToEndMs = 0;
        double paintedMs = 0;
        double downloadMs = 0;
        double decodeMs = 0;
        double scaleMs = 0;
        double floorMs() const { return downloadMs + decodeMs + scaleMs; }
    };

    PhotoBench(TestHttpsServer* server, QObject* parent = nullptr);
    static double median(QList<double> values);
    ~PhotoBench() override;

    Figures measure(const QString& path, const QByteArray& bytes, int rounds);
    // Milliseconds from three broadcasts to the third overlay on screen, median of the rounds.
    double threeAtOnce(const QString& path, int rounds);
    // For each of `count` photos in a row, milliseconds from its broadcast leaving the server to
    // its picture's request reaching the server, over a link that takes oneWayMs each way.
    QList<double> requestDelays(const QString& path, int count, int oneWayMs);
    // The same for a GET on an access manager of its own each time: a new connection per photo.
    QList<double> requestDelaysOnNewConnections(const QString& path, int count, int oneWayMs);
    void setSpeech(bool on);
    // The longest the event loop went without turning since the last call, in milliseconds.
    double longestStallMs();
    // The most processor time the event loop's own thread spent within one gap since the last
    // call: on a loaded machine a long gap may be the scheduler's, this part is the program's.
    double busiestGapMs();
    // The same over `ms` with nothing to do: what the machine itself costs the event loop.
    double idleStallMs(int ms);
    // Resident memory in KiB before and after `count` photos went through the queue.
    QPair<qint64, qint64> runThroughQueue(const QStringList& paths, int count);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void broadcast(const QString& path);
    double untilRequested(const QString& path, int oneWayMs, const std::function<void()>& onArrival,
                          const std::function<bool()>& done);
    void showAll(const QStringList& paths, int count);
    double endToEndOnce(const QString& path, double* paintedMs);
    double downloadOnce(const QString& path);
    void waitUntil(const std::function<bool()>& done, int timeoutMs);
    static qint64 residentKiB();
    static qint64 threadCpuNs();

    TestHttpsServer* m_server;
    GlimDeck* m_glimDeck;
    WebSocketClient* m_client;
    QElapsedTimer m_clock;
    qint64 m_shownAt = -1;
    qint64 m_paintedAt = -1;
    int m_overlaysShown = 0;
    QTimer m_ticker;
    qint64 m_lastTick = 0;
    qint64 m_longestStall = 0;
    qint64 m_lastTickCpuNs = 0;
    qint64 m_busiestGapNs = 0;
};
