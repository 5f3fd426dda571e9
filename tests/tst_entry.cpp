#include "process/logfile.h"
#include "testsupport.h"

// The real executable as a user starts it: its exit without a notification area, its log file,
// and the guard against a second instance.
class TestEntry : public QObject
{
    Q_OBJECT

private slots:
    void endsWithoutNotificationArea_data()
    {
        QTest::addColumn<bool>("logIsFolder"); // else a full log and an older one lie there
        QTest::newRow("full log") << false;
        QTest::newRow("a folder where the log goes") << true;
    }

    void endsWithoutNotificationArea()
    {
        QFETCH(bool, logIsFolder);
        Home home;
        QDir().mkpath(logIsFolder ? home.logPath() : QFileInfo(home.logPath()).path());
        const QByteArray full(LogFile::MAX_SIZE, 'a');
        for (const QString& path : logIsFolder ? QStringList() : QStringList{home.logPath(), home.logPath() + ".1"}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(path.endsWith(QLatin1String(".1")) ? QByteArray("older") : full);
        }
        QProcess program;
        start(program, home, QStringLiteral("offscreen"));
        QVERIFY(program.waitForFinished(20000));
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY(program.exitCode() != 0);
        QVERIFY2(errors.split(QLatin1Char('\n')).contains(QStringLiteral("No system tray available, exiting.")),
                 qPrintable(errors));
        QVERIFY2(!errors.contains(QStringLiteral("Connecting to")), qPrintable(errors));
        if (logIsFolder)
            return;
        // The full log moved aside, the older one dropped, and the line in a fresh file.
        QCOMPARE(readFile(home.logPath() + QStringLiteral(".1")), full);
        const QString logged = QString::fromUtf8(readFile(home.logPath()));
        const QRegularExpression line(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} No system tray available, exiting\.\n$)"));
        QVERIFY2(line.match(logged).hasMatch(), qPrintable(logged));
    }

    void logFileRotatesWhileWritingAndLetsGoWhenGone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logs/test.log"));
        LogCapture before;
        {
            const LogFile logFile(path, 100);
            for (int i = 0; i < 10; ++i)
                qDebug() << "ligne" << i;
        }
        qDebug() << "après";
        const QByteArray current = readFile(path);
        const QByteArray previous = readFile(path + QStringLiteral(".1"));
        QVERIFY(current.endsWith("ligne 9\n"));
        QVERIFY(!previous.isEmpty());
        QVERIFY(previous.size() < 100 + 40);
        QVERIFY(!current.contains("ligne 0\n"));
        // The handler that was there before has every line, the last one too.
        QCOMPARE(before.lines().size(), 11);
        QCOMPARE(before.lines().last(), QStringLiteral("après"));
    }

    // A second start while one runs ends at once; a killed instance's lock is taken over.
    void oneInstanceAtATime()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs a display with a notification area (the test script provides one)");
        Home home;
        QProcess first;
        startRunning(first, home);
        QProcess second;
        start(second, home, QStringLiteral("xcb"));
        QVERIFY(second.waitForFinished(10000));
        const QString errors = QString::fromUtf8(second.readAllStandardError());
        QVERIFY(second.exitCode() != 0);
        QVERIFY2(errors.contains(QStringLiteral("Glim-deck est déjà lancé, cette instance s'arrête.")),
                 qPrintable(errors));
        QVERIFY2(!errors.contains(QStringLiteral("Connecting to")), qPrintable(errors));
        // Without a system bus the first runs as before, and says so once.
        const QByteArray network =
            "Réseau : le système ne signale pas ses changements, reconnexions au rythme habituel.";
        const QByteArray sleep = "Veille : le système ne signale pas la sortie de veille.";
        QByteArray logged;
        QVERIFY(QTest::qWaitFor([&] { return (logged = readFile(home.logPath())).contains(sleep); }, 5000));
        QVERIFY2(logged.contains("Connecting to") && !logged.contains("déjà lancé"), logged.constData());
        QCOMPARE(logged.count(network), 1);
        QCOMPARE(logged.count(sleep), 1);
        QCOMPARE(first.state(), QProcess::Running);

        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(home.dir.filePath(QStringLiteral("glimdeck.lock"))));
        QProcess next;
        startRunning(next, home);
        next.terminate();
        QVERIFY(next.waitForFinished(10000));
    }

private:
    struct Home
    {
        QTemporaryDir dir;
        QString logPath() const { return dir.filePath(QStringLiteral("data/glimdeck/glimdeck.log")); }
    };

    static void start(QProcess& program, const Home& home, const QString& platform)
    {
        program.setProcessEnvironment(TestSupport::childEnvironment(home.dir.path(), platform));
        program.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
        QVERIFY(program.waitForStarted(10000));
    }

    // Started in the notification area, it goes on to open the server connection.
    static void startRunning(QProcess& program, const Home& home)
    {
        start(program, home, QStringLiteral("xcb"));
        QString errors;
        const bool connecting = QTest::qWaitFor(
            [&] {
                errors += QString::fromUtf8(program.readAllStandardError());
                return errors.contains(QStringLiteral("Connecting to \"wss://"));
            },
            20000);
        QVERIFY2(connecting, qPrintable(errors));
        QCOMPARE(program.state(), QProcess::Running);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
