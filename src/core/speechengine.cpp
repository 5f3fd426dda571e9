// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/speechengine.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QTextToSpeech>
#include <QThread>

namespace {

// The speech back-ends keep a process-wide list of their engines, unguarded: engines on
// different threads are built and deleted one at a time.
QMutex& lifecycleMutex()
{
    static QMutex mutex;
    return mutex;
}

} // namespace

// The engine's side, on the engine's thread. It answers through signals, so that an owner that
// is gone simply hears nothing.
class EngineHome : public QObject
{
    Q_OBJECT

public:
    ~EngineHome() override
    {
        const QMutexLocker lock(&lifecycleMutex());
        delete m_engine;
    }

    void build(const QString& backEnd)
    {
        {
            const QMutexLocker lock(&lifecycleMutex());
            m_engine = new QTextToSpeech(backEnd);
        }
        emit built(m_engine->engine());
    }
    void setUpVoice() { emit voiceSetUp(SpeechVoice::setUp(m_engine)); }
    void say(const QString& text) { m_engine->say(text); }
    void stop() { m_engine->stop(); }

signals:
    void built(const QString& backEnd);
    void voiceSetUp(const SpeechVoice::SetUp& setUp);

private:
    QTextToSpeech* m_engine = nullptr;
};

SpeechEngine::SpeechEngine(const QString& backEnd, QObject* parent)
    : QObject(parent)
    , m_backEnd(backEnd)
    , m_thread(new QThread)
    , m_home(new EngineHome)
{
    m_home->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_home, &QObject::deleteLater);
    connect(m_home, &EngineHome::built, this, &SpeechEngine::built);
    connect(m_home, &EngineHome::voiceSetUp, this, &SpeechEngine::voiceSetUp);
    // Speech can wait for a free processor; the photo being decoded beside it cannot.
    m_thread->start(QThread::IdlePriority);
}

SpeechEngine::~SpeechEngine()
{
    disconnect(m_home, nullptr, this, nullptr);
    m_thread->quit();
    if (!m_thread->wait(QUIT_WAIT_MS)) {
        // Left to the end of the process rather than keeping the program from going on.
        qWarning() << "Le service de synthèse vocale ne répond plus";
        return;
    }
    delete m_thread;
}

void SpeechEngine::build()
{
    QMetaObject::invokeMethod(m_home, [home = m_home, backEnd = m_backEnd] { home->build(backEnd); });
}

void SpeechEngine::setUpVoice()
{
    QMetaObject::invokeMethod(m_home, &EngineHome::setUpVoice);
}

void SpeechEngine::say(const QString& text)
{
    QMetaObject::invokeMethod(m_home, [home = m_home, text] { home->say(text); });
}

void SpeechEngine::stop()
{
    QMetaObject::invokeMethod(m_home, &EngineHome::stop);
}

#include "speechengine.moc"
