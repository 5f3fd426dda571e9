#include "process/logfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

// The real executable as a user starts it, its log file, and one instance at a time.
class TestEntry : public QObject
{
    Q_OBJECT

    // Starts the executable with its files under home; what it printed once it connects or ends.
    static QString start(QProcess& program, const QTemporaryDir& home, const QString& platform)
    {
        program.setProcessEnvironment(TestSupport::childEnvironment(home.path(), platform));
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
        QString output;
        while (!output.contains(u"Connecting to \"wss://"_s) && program.waitForReadyRead(20000))
            output += QString::fromUtf8(program.readAll());
        return output + QString::fromUtf8(program.readAll());
    }

private slots:
    void endsWithoutNotificationArea_data()
    {
        QTest::addColumn<QByteArray>("before"); // the log already there; none: a folder in its place
        QTest::newRow("short log goes on") << QByteArray("2020-01-01 00:00:00.000 avant\n");
        QTest::newRow("full log moved aside") << QByteArray(LogFile::MAX_SIZE, 'a');
        QTest::newRow("a folder where the log goes") << QByteArray();
    }

    void endsWithoutNotificationArea()
    {
        QFETCH(QByteArray, before);
        QTemporaryDir home;
        const QString log = home.filePath(u"data/glimdeck/glimdeck.log"_s);
        QVERIFY(TestSupport::writeFile(log + u".1"_s, "older"));
        QVERIFY(before.isEmpty() ? QDir().mkpath(log) : TestSupport::writeFile(log, before));
        QProcess program;
        const QString output = start(program, home, u"offscreen"_s);
        QVERIFY2(output.contains(u"No system tray available, exiting.\n"_s), qPrintable(output));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() != 0
                && !output.contains(u"Connecting to"_s));
        // A full log moves aside, the older one dropped; a shorter one goes on; the stamped line comes after.
        const bool full = before.size() == LogFile::MAX_SIZE;
        QCOMPARE(TestSupport::readFile(log + u".1"_s), full ? before : "older");
        const QString logged = QString::fromUtf8(TestSupport::readFile(log));
        const QString line = u"^%1[-\\d]{10} [:\\d]{8}\\.\\d{3} No system tray available, exiting\\.\\n$"_s;
        const QRegularExpression expected(
            line.arg(QRegularExpression::escape(full ? QString() : QString::fromUtf8(before))));
        QVERIFY2(before.isEmpty() || expected.match(logged).hasMatch(), qPrintable(logged));
    }

    // Kept to its size while written to; once gone, the lines go only where they went before.
    void logFileRotatesWhileWritingAndLetsGoWhenGone()
    {
        QTemporaryDir dir;
        LogCapture before;
        {
            const LogFile logFile(dir.filePath(u"logs/test.log"_s), 100);
            for (int i = 0; i < 10; ++i)
                qDebug() << "ligne" << i;
        }
        qDebug() << "après";
        const QByteArray current = TestSupport::readFile(dir.filePath(u"logs/test.log"_s));
        const QByteArray previous = TestSupport::readFile(dir.filePath(u"logs/test.log.1"_s));
        QVERIFY2(current.endsWith("ligne 9\n") && !current.contains("ligne 0\n") && !previous.isEmpty()
                     && previous.size() < 100 + 40,
                 current + '|' + previous);
        QCOMPARE(before.lines().mid(9), (QStringList{u"ligne 9"_s, u"après"_s}));
    }

    // A second start while one runs ends at once; a killed instance's lock is taken over.
    void oneInstanceAtATime()
    {
        QTemporaryDir home;
        QProcess first, second, next;
        QVERIFY(start(first, home, u"xcb"_s).contains(u"Connecting to"_s));
        const QString output = start(second, home, u"xcb"_s);
        QVERIFY2(output.contains(u"Glim-deck est déjà lancé, cette instance s'arrête."_s), qPrintable(output));
        QVERIFY(second.exitCode() != 0 && !output.contains(u"Connecting to"_s));
        // Without a system bus the first runs as before and says so once; the second never wrote here.
        const QString log = home.filePath(u"data/glimdeck/glimdeck.log"_s);
        QByteArray logged;
        QVERIFY(QTest::qWaitFor([&] { return (logged = TestSupport::readFile(log)).contains("Veille :"); }, 5000));
        QCOMPARE(logged.count("Réseau : le système ne signale pas ses changements"), 1);
        QCOMPARE(logged.count("Veille : le système ne signale pas la sortie de veille"), 1);
        QVERIFY2(logged.contains("Connecting to") && !logged.contains("déjà lancé"), logged);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished(10000) && QFile::exists(home.filePath(u"glimdeck.lock"_s)));
        QVERIFY(start(next, home, u"xcb"_s).contains(u"Connecting to"_s));
    }
};

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
