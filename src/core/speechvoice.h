#pragma once

#include <QList>
#include <QLocale>
#include <QString>

#include <optional>

class QTextToSpeech;

// Builds a session's speech engine, preferring one particular French voice.
class SpeechVoice
{
public:
    static constexpr double RATE = -0.25;
    static constexpr double PITCH = 0.6;
    static QString preferredName() { return QStringLiteral("French (France)+UniversalRobot"); }
    static QLocale preferredLocale() { return QLocale(QLocale::French, QLocale::France); }

    template <typename Voice>
    struct Choice
    {
        QList<Voice> exact;
        QList<Voice> french;
        std::optional<Voice> voice; // none: keep the engine's own default
    };

    // The choice itself, over plain lists so each rule can be checked on its own: a single voice
    // with the preferred name, else the first French (France) voice, else the first voice of the
    // engine's current locale.
    template <typename Voice>
    static Choice<Voice> choose(const QList<Voice>& everyLocale, const QList<Voice>& ofPreferredLocale,
                                const QList<Voice>& ofCurrentLocale)
    {
        Choice<Voice> choice;
        for (const Voice& voice : everyLocale) {
            if (voice.name() == preferredName())
                choice.exact.append(voice);
        }
        for (const Voice& voice : ofPreferredLocale) {
            if (voice.locale() == preferredLocale())
                choice.french.append(voice);
        }
        if (choice.exact.size() == 1)
            choice.voice = choice.exact.first();
        else if (!choice.french.isEmpty())
            choice.voice = choice.french.first();
        else if (!ofCurrentLocale.isEmpty())
            choice.voice = ofCurrentLocale.first();
        return choice;
    }

    // A new engine with no parent, its voice chosen and its rate and pitch set; the caller owns it.
    static QTextToSpeech* createEngine();
};
