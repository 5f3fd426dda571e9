// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/speechvoice.h"

#include <QDebug>
#include <QTextToSpeech>

namespace {

#if QT_VERSION < QT_VERSION_CHECK(6, 6, 0)
// Visiting a locale changes the engine's voice. Some engines cannot go back to the locale they
// started in by name (speech-dispatcher's C locale): their voice brings it back.
void restore(QTextToSpeech* engine, const QLocale& locale, const QVoice& voice)
{
    engine->setLocale(locale);
    if (engine->locale() != locale || engine->voice() != voice)
        engine->setVoice(voice);
}
#endif

QList<QVoice> voicesOf(QTextToSpeech* engine, const QLocale& locale)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    return engine->findVoices(locale);
#else
    if (!engine->availableLocales().contains(locale))
        return {};
    const QLocale current = engine->locale();
    const QVoice voice = engine->voice();
    engine->setLocale(locale);
    const QList<QVoice> voices = engine->availableVoices();
    restore(engine, current, voice);
    return voices;
#endif
}

} // namespace

QList<QVoice> SpeechVoice::voicesOfEveryLocale(QTextToSpeech* engine)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    return engine->findVoices();
#else
    // WORKAROUND: before Qt 6.6 the engine lists only its current locale's voices; visit each
    // locale and put the engine's own back afterwards. Can go with findVoices() from Qt 6.6.
    const QLocale current = engine->locale();
    const QVoice voice = engine->voice();
    QList<QVoice> voices;
    for (const QLocale& locale : engine->availableLocales()) {
        engine->setLocale(locale);
        voices += engine->availableVoices();
    }
    restore(engine, current, voice);
    return voices;
#endif
}

SpeechVoice::SetUp SpeechVoice::setUp(QTextToSpeech* engine)
{
    const Choice<QVoice> choice =
        choose(voicesOfEveryLocale(engine), voicesOf(engine, preferredLocale()), engine->availableVoices());
    SetUp result{choice.exact.size(), choice.french.size(), engine->availableVoices().size(), {}};
    engine->setRate(RATE);
    engine->setPitch(PITCH);
    if (choice.voice)
        engine->setVoice(*choice.voice);
    result.voice = engine->voice();
    return result;
}

void SpeechVoice::log(const SetUp& setUp)
{
    qDebug() << "Nombre de voix precis :" << setUp.exact;
    qDebug() << "Nombre de voix FR :" << setUp.french;
    qDebug() << "Nombre de voix:" << setUp.available;
    qDebug() << setUp.voice;
}
