// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/speechvoice.h"
#include "testsupport.h"

#include <QTextToSpeech>

using namespace Qt::StringLiterals;

const QString PREFERRED = u"French (France)+UniversalRobot"_s;

struct FakeVoice : QString // "name/locale"; name @: the preferred one, ^: the same in capitals
{
    QString name() const { return section(u'/', 0, 0).replace(u'^', PREFERRED.toUpper()).replace(u'@', PREFERRED); }
    QLocale locale() const { return QLocale(section(u'/', 1)); }
};

// The rules on plain lists, rows every locale|French (France)|current locale|counts, choice; then the engine here.
class TestSpeechVoice : public QObject
{
    Q_OBJECT

private slots:
    void choice()
    {
        for (QString row : {u"k/en,M/fr,@/fr|M/fr,@/fr|k/en|1 2 @"_s, u"@/fr,@/fr,J/fr|J/fr,@/fr,@/fr|k/en|2 3 J"_s,
                            u"S/fr_CA,k/en,s/en|S/fr_CA|k/en,s/en|0 0 k"_s, u"k/en,s/en||s/en,k/en|0 0 s"_s,
                            u"^/fr|M/fr,^/fr||0 2 M"_s, u"|||0 0 "_s}) {
            QList<FakeVoice> voices[3];
            for (int i = 0; i < 3; ++i)
                for (const QString& text : row.section(u'|', i, i).split(u',', Qt::SkipEmptyParts))
                    voices[i].append({text});
            const auto choice = SpeechVoice::choose(voices[0], voices[1], voices[2]);
            const QString counts = u"|%1 %2 "_s.arg(choice.exact.size()).arg(choice.french.size());
            QCOMPARE(row.section(u'|', 0, 2) + counts + choice.voice.value_or(FakeVoice()).left(1), row);
        }
    }

    void engineSetUp()
    {
        if (TestSupport::underWine())
            QSKIP("Wine's SAPI lists one voice, \"Wine Default Voice\", with no speech engine behind it");
        QTextToSpeech engine;
        if (engine.availableLocales().isEmpty())
            QSKIP("no speech engine with voices installed");
        const auto [locale, voice, current] = std::tuple(engine.locale(), engine.voice(), engine.availableVoices());
        auto exact = SpeechVoice::voicesOfEveryLocale(&engine).removeIf([](auto& v) { return v.name() == PREFERRED; });
        QVERIFY(engine.locale() == locale && engine.voice() == voice); // left as they were
        LogCapture log;
        SpeechVoice::log(SpeechVoice::setUp(&engine));
        const bool french = engine.availableLocales().contains(QLocale(u"fr_FR"_s));
        QVERIFY(exact == 1 ? engine.voice().name() == PREFERRED : french || engine.voice() == current.first());
        const auto counts = u"^Nombre de voix precis : %1\nNombre de voix FR : \\d+\nNombre de voix: %2\n.+$"_s;
        QVERIFY(log.lines(QtDebugMsg).join(u'\n').contains(QRegularExpression(counts.arg(exact).arg(current.size()))));
    }
};

QTEST_MAIN(TestSpeechVoice)
#include "tst_speechvoice.moc"
