// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QLocale>
#include <QMetaType>
#include <QString>
#include <QVoice>

#include <optional>

class QTextToSpeech;

// Sets a speech engine up for a session, preferring one particular French voice.
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

    // What the set-up found and chose: the counts go to the log, with the voice.
    struct SetUp
    {
        qsizetype exact = 0;
        qsizetype french = 0;
        qsizetype available = 0;
        QVoice voice;
    };

    // Chooses the engine's voice anew from what it offers now, and sets its rate and pitch.
    static SetUp setUp(QTextToSpeech* engine);
    static void log(const SetUp& setUp);
    // Every voice of every locale; the engine's locale and voice are left as they were found.
    static QList<QVoice> voicesOfEveryLocale(QTextToSpeech* engine);
};

Q_DECLARE_METATYPE(SpeechVoice::SetUp)
