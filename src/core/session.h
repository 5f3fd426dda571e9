#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class FileDownloader;
class Overlay;
class QPixmap;
class QTextToSpeech;

// Carries one photo from its address to the screen and away again, then deletes itself.
// Every way out emits finished(this) exactly once.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(const QUrl& url, const QString& message, int displayDurationMs, bool ttsEnabled, QObject* parent);
    ~Session() override;

    void start();

signals:
    void finished(Session* self);

private slots:
    void onDownloaded();
    void onTimeout();

private:
    void end();

    QUrl m_imageUrl;
    QString m_message;
    FileDownloader* m_downloader = nullptr;
    Overlay* m_overlay = nullptr;
    QPixmap* m_pixmap = nullptr;
    int m_displayDurationMs;
    QTextToSpeech* m_speech = nullptr;
    bool m_isTTSEnabled;
};
