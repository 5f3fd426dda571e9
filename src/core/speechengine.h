#pragma once

#include "core/speechvoice.h"

#include <QObject>
#include <QString>
#include <QThread>

class QTextToSpeech;

// One speech engine kept on a thread of its own. Building an engine can take seconds (a
// speech-dispatcher engine lists thousands of voices) and choosing its voice tens of
// milliseconds; the program's own thread must not wait for either. What it is asked is done on
// that thread, in order; the answers come back as signals on the owner's thread.
class SpeechEngine : public QObject
{
    Q_OBJECT

public:
    explicit SpeechEngine(QObject* parent = nullptr);
    // Waits for a build in progress: an engine cannot be abandoned half built.
    ~SpeechEngine() override;

    void build();
    void setUpVoice();
    void say(const QString& text);
    void stop();

signals:
    void built();
    void voiceSetUp(const SpeechVoice::SetUp& setUp);

private:
    QThread m_thread;
    QObject m_home;                    // lives on m_thread: the context of everything done there
    QTextToSpeech* m_engine = nullptr; // touched on m_thread only
};
