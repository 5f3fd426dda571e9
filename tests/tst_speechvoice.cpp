#include "core/speechvoice.h"
#include "testsupport.h"

#include <QTextToSpeech>
#include <QVoice>

#include <algorithm>

namespace {

struct FakeVoice
{
    QString m_name;
    QLocale m_locale;
    QString name() const { return m_name; }
    QLocale locale() const { return m_locale; }
};

const QLocale FR_FR(QLocale::French, QLocale::France);
const QLocale FR_CA(QLocale::French, QLocale::Canada);
const QLocale EN_US(QLocale::English, QLocale::UnitedStates);
const QString PREFERRED = QStringLiteral("French (France)+UniversalRobot");

} // namespace

Q_DECLARE_METATYPE(FakeVoice)

// The voice rules on plain lists, then the set-up with the engine installed here.
class TestSpeechVoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void engineSetUp();
};

void TestSpeechVoice::choice_data()
{
    QTest::addColumn<QList<FakeVoice>>("everyLocale");
    QTest::addColumn<QList<FakeVoice>>("french");
    QTest::addColumn<QList<FakeVoice>>("current");
    QTest::addColumn<QString>("chosen"); // empty: the engine's default stays
    QTest::addColumn<int>("exactCount");
    QTest::addColumn<int>("frenchCount");

    const FakeVoice robot{PREFERRED, FR_FR};
    const FakeVoice marie{QStringLiteral("Marie"), FR_FR};
    const FakeVoice julie{QStringLiteral("Julie"), FR_FR};
    const FakeVoice quebec{QStringLiteral("Sylvie"), FR_CA};
    const FakeVoice kal{QStringLiteral("kal"), EN_US};
    const FakeVoice slt{QStringLiteral("slt"), EN_US};
    const FakeVoice shouting{QStringLiteral("FRENCH (FRANCE)+UNIVERSALROBOT"), FR_FR};

    QTest::newRow("one exact name wins over French voices")
        << QList<FakeVoice>{kal, marie, robot} << QList<FakeVoice>{marie, robot} << QList<FakeVoice>{kal} << PREFERRED
        << 1 << 2;
    QTest::newRow("two exact names: first French voice")
        << QList<FakeVoice>{robot, robot, julie} << QList<FakeVoice>{julie, robot, robot} << QList<FakeVoice>{kal}
        << "Julie" << 2 << 3;
    QTest::newRow("only other French locales: current locale's first")
        << QList<FakeVoice>{quebec, kal, slt} << QList<FakeVoice>{quebec} << QList<FakeVoice>{kal, slt} << "kal" << 0
        << 0;
    QTest::newRow("no French at all") << QList<FakeVoice>{kal, slt} << QList<FakeVoice>{} << QList<FakeVoice>{slt, kal}
                                      << "slt" << 0 << 0;
    QTest::newRow("name in other case is not preferred")
        << QList<FakeVoice>{shouting} << QList<FakeVoice>{marie, shouting} << QList<FakeVoice>{kal} << "Marie" << 0
        << 2;
    QTest::newRow("no voice at all") << QList<FakeVoice>{} << QList<FakeVoice>{} << QList<FakeVoice>{} << QString() << 0
                                     << 0;
}

void TestSpeechVoice::choice()
{
    QFETCH(QList<FakeVoice>, everyLocale);
    QFETCH(QList<FakeVoice>, french);
    QFETCH(QList<FakeVoice>, current);
    QFETCH(QString, chosen);
    QFETCH(int, exactCount);
    QFETCH(int, frenchCount);
    const SpeechVoice::Choice<FakeVoice> choice = SpeechVoice::choose(everyLocale, french, current);
    QCOMPARE(int(choice.exact.size()), exactCount);
    QCOMPARE(int(choice.french.size()), frenchCount);
    QCOMPARE(choice.voice.has_value(), !chosen.isEmpty());
    if (choice.voice)
        QCOMPARE(choice.voice->name(), chosen);
}

// Whatever engine is installed (flite, or speech-dispatcher with its thousands of voices).
void TestSpeechVoice::engineSetUp()
{
    QTextToSpeech engine;
    if (engine.availableLocales().isEmpty())
        QSKIP("no speech engine with voices installed");
    const QLocale startLocale = engine.locale();
    const QVoice startVoice = engine.voice();
    const QList<QVoice> current = engine.availableVoices();
    const QList<QVoice> every = SpeechVoice::voicesOfEveryLocale(&engine);
    QCOMPARE(engine.locale(), startLocale);
    QCOMPARE(engine.voice(), startVoice);
    const auto preferred =
        std::count_if(every.cbegin(), every.cend(), [](const QVoice& voice) { return voice.name() == PREFERRED; });

    LogCapture log;
    SpeechVoice::log(SpeechVoice::setUp(&engine));
    if (preferred == 1)
        QCOMPARE(engine.voice().name(), PREFERRED);
    else if (!engine.availableLocales().contains(FR_FR))
        QCOMPARE(engine.voice(), current.first());
    const QStringList lines = log.lines(QtDebugMsg);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QStringLiteral("Nombre de voix precis : %1").arg(preferred));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("Nombre de voix FR : ")));
    QCOMPARE(lines.at(2), QStringLiteral("Nombre de voix: %1").arg(current.size()));
}

QTEST_MAIN(TestSpeechVoice)
#include "tst_speechvoice.moc"
