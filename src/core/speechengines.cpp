// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/speechengines.h"

#include "core/speechengine.h"

#include <QDebug>

SpeechEngines::SpeechEngines(int count, const QString& backEnd, QObject* parent)
    : QObject(parent)
    , m_count(count)
    , m_backEnd(backEnd)
{
}

SpeechEngines::~SpeechEngines() = default;

void SpeechEngines::prepare()
{
    if (m_engines.isEmpty())
        buildNext();
}

void SpeechEngines::borrow(QObject* borrower, const Lent& onLent)
{
    prepare();
    m_waiting.append({borrower, onLent});
    lendNext();
}

void SpeechEngines::giveBack(SpeechEngine* engine)
{
    m_free.append(engine);
    lendNext();
}

// One build at a time: they compete for the same speech service.
void SpeechEngines::buildNext()
{
    if (m_engines.size() >= m_count)
        return;
    auto* engine = new SpeechEngine(m_backEnd, this);
    m_engines.append(engine);
    connect(engine, &SpeechEngine::built, this, [this, engine](const QString& backEnd) { onBuilt(engine, backEnd); });
    connect(engine, &SpeechEngine::voiceSetUp, this,
            [this, engine](const SpeechVoice::SetUp& setUp) { onVoiceSetUp(engine, setUp); });
    engine->build();
}

void SpeechEngines::onBuilt(SpeechEngine* engine, const QString& backEnd)
{
    // libflite is not thread-safe, and each flite engine synthesises on a thread of its own:
    // a single one is lent in turn.
    if (backEnd == QLatin1String(FLITE))
        m_count = m_engines.size();
    qDebug() << "Moteur de synthèse vocale prêt :" << m_engines.size() << "sur" << m_count;
    m_free.append(engine);
    lendNext();
    buildNext();
}

void SpeechEngines::onVoiceSetUp(SpeechEngine* engine, const SpeechVoice::SetUp& setUp)
{
    SpeechVoice::log(setUp);
    const Borrower borrower = m_settingUp.take(engine);
    if (borrower.object) {
        borrower.onLent(engine);
        return;
    }
    m_free.append(engine);
    lendNext();
}

void SpeechEngines::lendNext()
{
    while (!m_free.isEmpty() && !m_waiting.isEmpty()) {
        const Borrower borrower = m_waiting.takeFirst();
        if (!borrower.object)
            continue;
        SpeechEngine* engine = m_free.takeFirst();
        m_settingUp.insert(engine, borrower);
        engine->setUpVoice();
    }
}
