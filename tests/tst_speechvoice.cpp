#include "core/speechvoice.h"
#include "logcapture.h"

#include <QTest>
#include <QTextToSpeech>
#include <QVoice>

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

void TestSpeechVoice::engineSetUp()
{
    QTextToSpeech reference;
    if (reference.availableLocales().isEmpty())
        QSKIP("no speech engine with voices installed");
    const QLocale defaultLocale = reference.locale();
    const QList<QVoice> available = reference.availableVoices();

    LogCapture log;
    QTextToSpeech* engine = SpeechVoice::createEngine();
    QCOMPARE(engine->rate(), -0.25);
    QCOMPARE(engine->pitch(), 0.6);
    QCOMPARE(engine->locale(), defaultLocale);
    QVERIFY(engine->parent() == nullptr);
    // The engine here has no French voice: the first of its current locale.
    QCOMPARE(engine->voice(), available.first());
    const QStringList lines = log.lines(QtDebugMsg);
    QVERIFY(lines.contains(QStringLiteral("Nombre de voix precis : 0")));
    QVERIFY(lines.contains(QStringLiteral("Nombre de voix FR : 0")));
    QVERIFY(lines.contains(QStringLiteral("Nombre de voix: %1").arg(available.size())));
    delete engine;
}

QTEST_MAIN(TestSpeechVoice)
#include "tst_speechvoice.moc"
