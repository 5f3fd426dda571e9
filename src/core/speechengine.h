// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/speechvoice.h"

#include <QObject>
#include <QString>

class QThread;

// One speech engine kept on a thread of its own. Building an engine can take seconds (a
// speech-dispatcher engine lists thousands of voices) and choosing its voice tens of
// milliseconds; the program's own thread must not wait for either. What it is asked is done on
// that thread, in order; the answers come back as signals on the owner's thread.
class SpeechEngine : public QObject
{
    Q_OBJECT

public:
    // An empty back-end is Qt's default one.
    explicit SpeechEngine(const QString& backEnd, QObject* parent = nullptr);
    // Waits for a build in progress, as an engine cannot be abandoned half built, but not for a
    // speech service that stopped answering.
    ~SpeechEngine() override;

    void build();
    void setUpVoice();
    void say(const QString& text);
    void stop();

signals:
    // backEnd names the one in use.
    void built(const QString& backEnd);
    void voiceSetUp(const SpeechVoice::SetUp& setUp);

private:
    static constexpr int QUIT_WAIT_MS = 10000;

    QString m_backEnd;
    QThread* m_thread;
    class EngineHome* m_home; // lives on m_thread and holds the engine there
};
