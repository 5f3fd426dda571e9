#include "core/speechengine.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTextToSpeech>

namespace {

// The speech back-ends keep a process-wide list of their engines, unguarded: engines on
// different threads are built and deleted one at a time.
QMutex& lifecycleMutex()
{
    static QMutex mutex;
    return mutex;
}

} // namespace

SpeechEngine::SpeechEngine(QObject* parent)
    : QObject(parent)
{
    m_home.moveToThread(&m_thread);
    m_thread.start();
}

SpeechEngine::~SpeechEngine()
{
    QMetaObject::invokeMethod(
        &m_home,
        [this] {
            const QMutexLocker lock(&lifecycleMutex());
            delete m_engine;
            m_engine = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void SpeechEngine::build()
{
    QMetaObject::invokeMethod(&m_home, [this] {
        {
            const QMutexLocker lock(&lifecycleMutex());
            m_engine = new QTextToSpeech();
        }
        QMetaObject::invokeMethod(this, &SpeechEngine::built);
    });
}

void SpeechEngine::setUpVoice()
{
    QMetaObject::invokeMethod(&m_home, [this] {
        const SpeechVoice::SetUp setUp = SpeechVoice::setUp(m_engine);
        QMetaObject::invokeMethod(this, [this, setUp] { emit voiceSetUp(setUp); });
    });
}

void SpeechEngine::say(const QString& text)
{
    QMetaObject::invokeMethod(&m_home, [this, text] { m_engine->say(text); });
}

void SpeechEngine::stop()
{
    QMetaObject::invokeMethod(&m_home, [this] { m_engine->stop(); });
}
