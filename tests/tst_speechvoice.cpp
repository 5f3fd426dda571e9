// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/speechvoice.h"
#include "testsupport.h"

#include <QTextToSpeech>

using namespace Qt::StringLiterals;

const QString PREFERRED = "French (France)+UniversalRobot";

struct FakeVoice
{
    QString m_name;
    QLocale m_locale;
    QString name() const { return m_name; }
    QLocale locale() const { return m_locale; }
};
using Voices = QList<FakeVoice>;
Q_DECLARE_METATYPE(FakeVoice)

class TestSpeechVoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<Voices>("everyLocale");
        QTest::addColumn<Voices>("ofFrance"); // the engine's voices of French (France)
        QTest::addColumn<Voices>("ofCurrent");
        QTest::addColumn<int>("exact");
        QTest::addColumn<int>("french");
        QTest::addColumn<QString>("chosen"); // none: the engine's own
        const QLocale fr(u"fr_FR"_s);
        const FakeVoice preferred{PREFERRED, fr};
        const FakeVoice capitals{PREFERRED.toUpper(), fr};
        const FakeVoice jean{u"Jean"_s, fr};
        const FakeVoice sophie{u"Sophie"_s, QLocale(u"fr_CA"_s)};
        const FakeVoice kate{u"Kate"_s, QLocale(u"en_US"_s)};
        const FakeVoice sam{u"Sam"_s, kate.m_locale};
        QTest::newRow("preferred") << Voices{kate, jean, preferred} << Voices{jean, preferred} << Voices{kate} << 1 << 2
                                   << PREFERRED;
        QTest::newRow("preferred twice") << Voices{preferred, capitals, preferred} << Voices{jean, capitals, preferred}
                                         << Voices{kate} << 2 << 3 << u"Jean"_s;
        QTest::newRow("no French (France)")
            << Voices{sophie, kate, sam} << Voices{sophie} << Voices{sam, kate} << 0 << 0 << u"Sam"_s;
        QTest::newRow("no voice") << Voices() << Voices() << Voices() << 0 << 0 << QString();
    }

    void choice()
    {
        QFETCH(Voices, everyLocale);
        QFETCH(Voices, ofFrance);
        QFETCH(Voices, ofCurrent);
        const auto choice = SpeechVoice::choose(everyLocale, ofFrance, ofCurrent);
        QTEST(int(choice.exact.size()), "exact");
        QTEST(int(choice.french.size()), "french");
        QTEST(choice.voice.value_or(FakeVoice()).name(), "chosen");
    }

    void engineSetUp()
    {
        if (TestSupport::underWine())
            QSKIP("Wine's SAPI lists one voice, \"Wine Default Voice\", with no speech engine behind it");
        QTextToSpeech engine;
        if (engine.availableLocales().isEmpty())
            QSKIP("no speech engine with voices installed");
        const QLocale locale = engine.locale();
        const QVoice voice = engine.voice();
        const QList<QVoice> current = engine.availableVoices();
        auto exact = SpeechVoice::voicesOfEveryLocale(&engine).removeIf([](auto& v) { return v.name() == PREFERRED; });
        QCOMPARE(engine.locale(), locale); // left as they were
        QCOMPARE(engine.voice(), voice);
        LogCapture log;
        SpeechVoice::log(SpeechVoice::setUp(&engine));
        if (exact == 1)
            QCOMPARE(engine.voice().name(), PREFERRED);
        else if (!engine.availableLocales().contains(QLocale(u"fr_FR"_s)))
            QCOMPARE(engine.voice(), current.first());
        const auto counts = u"^Nombre de voix precis : %1\nNombre de voix FR : \\d+\nNombre de voix: %2\n.+$"_s;
        QVERIFY(log.lines(QtDebugMsg).join(u'\n').contains(QRegularExpression(counts.arg(exact).arg(current.size()))));
    }
};

QTEST_MAIN(TestSpeechVoice)
#include "tst_speechvoice.moc"
