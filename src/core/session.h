// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class FileDownloader;
class Overlay;
class OverlayPool;
class QNetworkAccessManager;
class QPixmap;
class QThreadPool;
class ScreenChoice;
class SpeechEngine;
class SpeechEngines;

// Carries one photo from its address to the screen and away again, then deletes itself.
// Every way out emits finished(this) exactly once. With speech engines given, it borrows one at
// once and speaks its message while its photo is shown; the photo never waits for the engine.
// The picture is decoded on one of the decoders' threads; the event loop only shows it.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(const QUrl& url, const QString& message, int displayDurationMs, SpeechEngines* speech,
            QNetworkAccessManager* network, QThreadPool* decoders, QObject* parent);
    ~Session() override;

    void start();
    // Where the photo goes, looked at when it is shown; the primary screen when none is given.
    void setScreenChoice(const ScreenChoice* screens);
    // Where its windows come from and go back to, and which puts them on its stack; without one,
    // each is built and deleted here, and no stack holds it (Escape does not reach it).
    void setOverlayPool(OverlayPool* pool);

signals:
    void finished(Session* self);
    // The photo is on screen.
    void shown();

private slots:
    void onDownloaded();
    void onDecoded();
    void onTimeout();

private:
    void end();
    void onSpeechLent(SpeechEngine* engine);
    void speak();
    void showOverlays();

    QUrl m_imageUrl;
    QString m_message;
    QNetworkAccessManager* m_network;
    QThreadPool* m_decoders;
    FileDownloader* m_downloader = nullptr;
    // Gone with the session: a picture decoded after its end is dropped unseen.
    QFutureWatcher<QImage> m_decoding;
    QList<Overlay*> m_overlays; // one for each screen the photo is on
    QPointer<const ScreenChoice> m_screenChoice;
    QPointer<OverlayPool> m_overlayPool;
    QPixmap* m_pixmap = nullptr;
    int m_displayDurationMs;
    QPointer<SpeechEngines> m_speechEngines;
    SpeechEngine* m_speech = nullptr;
    bool m_spoken = false;
};
