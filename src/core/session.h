#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class FileDownloader;
class Overlay;
class QPixmap;
class SpeechEngine;
class SpeechEngines;

// Carries one photo from its address to the screen and away again, then deletes itself.
// Every way out emits finished(this) exactly once. With speech engines given, it borrows one at
// once and speaks its message while its photo is shown; the photo never waits for the engine.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(const QUrl& url, const QString& message, int displayDurationMs, SpeechEngines* speech, QObject* parent);
    ~Session() override;

    void start();

signals:
    void finished(Session* self);
    // The photo is on screen.
    void shown();

private slots:
    void onDownloaded();
    void onTimeout();

private:
    void end();
    void onSpeechLent(SpeechEngine* engine);
    void speak();

    QUrl m_imageUrl;
    QString m_message;
    FileDownloader* m_downloader = nullptr;
    Overlay* m_overlay = nullptr;
    QPixmap* m_pixmap = nullptr;
    int m_displayDurationMs;
    QPointer<SpeechEngines> m_speechEngines;
    SpeechEngine* m_speech = nullptr;
    bool m_spoken = false;
};
