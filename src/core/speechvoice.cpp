#include "core/speechvoice.h"

#include <QDebug>
#include <QTextToSpeech>
#include <QVoice>

namespace {

#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
QList<QVoice> voicesOfEveryLocale(QTextToSpeech* engine)
{
    return engine->findVoices();
}

QList<QVoice> voicesOf(QTextToSpeech* engine, const QLocale& locale)
{
    return engine->findVoices(locale);
}
#else
// WORKAROUND: before Qt 6.6 the engine lists only its current locale's voices; visit each
// locale and put the engine's own back afterwards. Can go with findVoices() from Qt 6.6.
QList<QVoice> voicesOfEveryLocale(QTextToSpeech* engine)
{
    const QLocale current = engine->locale();
    QList<QVoice> voices;
    for (const QLocale& locale : engine->availableLocales()) {
        engine->setLocale(locale);
        voices += engine->availableVoices();
    }
    engine->setLocale(current);
    return voices;
}

QList<QVoice> voicesOf(QTextToSpeech* engine, const QLocale& locale)
{
    if (!engine->availableLocales().contains(locale))
        return {};
    const QLocale current = engine->locale();
    engine->setLocale(locale);
    const QList<QVoice> voices = engine->availableVoices();
    engine->setLocale(current);
    return voices;
}
#endif

} // namespace

QTextToSpeech* SpeechVoice::createEngine()
{
    auto* engine = new QTextToSpeech(nullptr);
    const Choice<QVoice> choice =
        choose(voicesOfEveryLocale(engine), voicesOf(engine, preferredLocale()), engine->availableVoices());

    qDebug() << "Nombre de voix precis :" << choice.exact.size();
    qDebug() << "Nombre de voix FR :" << choice.french.size();
    qDebug() << "Nombre de voix:" << engine->availableVoices().size();

    engine->setRate(RATE);
    engine->setPitch(PITCH);
    if (choice.voice)
        engine->setVoice(*choice.voice);
    qDebug() << engine->voice();
    return engine;
}
