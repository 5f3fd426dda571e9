// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QUrl>

class QNetworkReply;
class QSocketNotifier;
class QTimer;
class QWebSocket;

// Many WebSocket listeners on one room, a few on another, and a paced stream of uploads to the
// first room; counts what every listener receives and prints the figures on standard output.
class LoadRun : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString server; // host:port
        QString room;
        QString otherRoom;
        int clients = 20;
        int otherClients = 2;
        int warmUp = 50;
        int uploads = 1000;
        int rate = 50;
        // Prints "PAUSE ..." and waits for a line on standard input after the warm-up and after
        // the run, so that a caller can read the server's memory while every listener is open.
        bool pause = false;
    };

    LoadRun(const Options& options, const QSslConfiguration& tls, QObject* parent = nullptr);

    void start();

signals:
    void finished(bool goalsMet);

private:
    static constexpr int SETTLE_MS = 500;
    static constexpr int DRAIN_TIMEOUT_MS = 10000;
    static constexpr int PACER_TICK_MS = 2;

    struct Listener
    {
        QWebSocket* socket = nullptr;
        bool inRoom = true;
        QList<int> received; // per upload of the current batch
        int foreign = 0;     // photos of any batch seen by a listener of the other room
    };

    void onListenerConnected(int index);
    void onListenerMessage(int index, const QString& text);
    void onListenerDisconnected();
    void onPacerTick();
    void onUploadFinished(QNetworkReply* reply, int number);
    void onDrainTimeout();
    void onWatchdogTimeout();
    void onStandardInput();

    void startBatch(const QString& tag, int count);
    void checkBatchComplete();
    void finishBatch();
    void startMeasured();
    void printFigures();
    void end();
    void pauseThen(const char* label, void (LoadRun::*next)());
    QByteArray uploadMessage(int number) const;

    Options m_options;
    QSslConfiguration m_tls;
    QUrl m_webSocketUrl;
    QUrl m_uploadUrl;
    QByteArray m_picture;
    QNetworkAccessManager m_network;
    QList<Listener> m_listeners;
    int m_connected = 0;
    int m_lostListeners = 0;
    int m_unexpected = 0; // photos of no running batch, or out of its range

    QString m_tag;
    int m_batchSize = 0;
    int m_sent = 0;
    int m_answered = 0;
    int m_accepted = 0;
    QList<bool> m_acceptedUploads;
    QList<qint64> m_sentAtNs;
    QList<qint64> m_latenciesNs;
    qint64 m_lastAnswerNs = 0;
    qint64 m_lastDeliveryNs = 0;
    QElapsedTimer m_clock;
    QTimer* m_pacer;
    QTimer* m_drain;
    QTimer* m_watchdog;
    QSocketNotifier* m_input = nullptr;
    void (LoadRun::*m_afterPause)() = nullptr;
    bool m_goalsMet = true;
};
