#include "logfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The real executable as a user starts it: its exit without a notification area, its log file,
// and the guard against a second instance.
class TestEntry : public QObject
{
    Q_OBJECT

private slots:
    void endsWithoutNotificationAreaAndLogsToFile();
    void logFileIsKeptToOneMebibyte();
    void unopenableLogCostsOnlyTheFile();
    void logFileRotatesWhileWriting();
    void runsAndConnectsWithNotificationArea();
    void secondInstanceEndsAtOnce();
    void lockOfAKilledInstanceIsRecovered();

private:
    struct Home
    {
        QTemporaryDir dir;
        QString logPath() const { return dir.filePath(QStringLiteral("data/glimdeck/glimdeck.log")); }
    };
    static void start(QProcess& program, const Home& home, const QString& platform);
    static QString waitForRunning(QProcess& program);
    static QByteArray readFile(const QString& path);
    static void requireDisplay();
};

void TestEntry::start(QProcess& program, const Home& home, const QString& platform)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.dir.path());
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    // No system bus, so none of the host's network or sleep reports reach the program.
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted(10000));
}

QString TestEntry::waitForRunning(QProcess& program)
{
    QString errors;
    for (int i = 0; i < 200 && !errors.contains(QStringLiteral("Connecting to \"wss://")); ++i) {
        program.waitForReadyRead(100);
        errors += QString::fromUtf8(program.readAllStandardError());
    }
    return errors;
}

QByteArray TestEntry::readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestEntry::requireDisplay()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs a display with a notification area (the test script provides one)");
}

void TestEntry::endsWithoutNotificationAreaAndLogsToFile()
{
    Home home;
    QProcess program;
    start(program, home, QStringLiteral("offscreen"));
    QVERIFY(program.waitForFinished(20000));
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    QVERIFY2(errors.split(QLatin1Char('\n')).contains(QStringLiteral("No system tray available, exiting.")),
             qPrintable(errors));
    QVERIFY2(!errors.contains(QStringLiteral("Connecting to")), qPrintable(errors));

    const QString logged = QString::fromUtf8(readFile(home.logPath()));
    const QRegularExpression line(
        QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} No system tray available, exiting\.$)"),
        QRegularExpression::MultilineOption);
    QVERIFY2(line.match(logged).hasMatch(), qPrintable(logged));
}

void TestEntry::logFileIsKeptToOneMebibyte()
{
    Home home;
    QDir().mkpath(QFileInfo(home.logPath()).path());
    const QByteArray full(LogFile::MAX_SIZE, 'a');
    for (const QString& path : {home.logPath(), home.logPath() + QStringLiteral(".1")}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(path.endsWith(QLatin1String(".1")) ? QByteArray("older") : full);
    }
    QProcess program;
    start(program, home, QStringLiteral("offscreen"));
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(readFile(home.logPath() + QStringLiteral(".1")), full);
    const QByteArray fresh = readFile(home.logPath());
    QVERIFY(fresh.endsWith(" No system tray available, exiting.\n"));
    QVERIFY(fresh.size() < 200);
}

void TestEntry::unopenableLogCostsOnlyTheFile()
{
    Home home;
    QVERIFY(QDir().mkpath(home.logPath())); // a folder where the file should be
    QProcess program;
    start(program, home, QStringLiteral("offscreen"));
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.readAllStandardError().contains("No system tray available, exiting."));
}

void TestEntry::logFileRotatesWhileWriting()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("logs/test.log"));
    LogFile::install(path, 100);
    for (int i = 0; i < 10; ++i)
        qDebug() << "ligne" << i;
    LogFile::uninstall();
    const QByteArray current = readFile(path);
    const QByteArray previous = readFile(path + QStringLiteral(".1"));
    QVERIFY(current.endsWith("ligne 9\n"));
    QVERIFY(!previous.isEmpty());
    QVERIFY(previous.size() < 100 + 40);
    QVERIFY(!current.contains("ligne 0\n"));
}

void TestEntry::runsAndConnectsWithNotificationArea()
{
    requireDisplay();
    Home home;
    QProcess program;
    start(program, home, QStringLiteral("xcb"));
    QString errors = waitForRunning(program);
    QVERIFY2(errors.contains(QStringLiteral("Connecting to \"wss://")), qPrintable(errors));
    QCOMPARE(program.state(), QProcess::Running);
    // Without a system bus it runs as before, and says so once.
    const QString network = QStringLiteral("Réseau : le système ne signale pas ses changements, reconnexions au "
                                           "rythme habituel.");
    const QString sleep = QStringLiteral("Veille : le système ne signale pas la sortie de veille.");
    QVERIFY2(QTest::qWaitFor(
                 [&] { return (errors += QString::fromUtf8(program.readAllStandardError())).contains(sleep); }, 5000),
             qPrintable(errors));
    QCOMPARE(errors.count(network), 1);
    QCOMPARE(errors.count(sleep), 1);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
}

void TestEntry::secondInstanceEndsAtOnce()
{
    requireDisplay();
    Home home;
    QProcess first;
    start(first, home, QStringLiteral("xcb"));
    QVERIFY(waitForRunning(first).contains(QStringLiteral("Connecting to")));

    QProcess second;
    start(second, home, QStringLiteral("xcb"));
    QVERIFY(second.waitForFinished(10000));
    const QString errors = QString::fromUtf8(second.readAllStandardError());
    QVERIFY(second.exitCode() != 0);
    QVERIFY2(errors.contains(QStringLiteral("Glim-deck est déjà lancé, cette instance s'arrête.")), qPrintable(errors));
    QVERIFY2(!errors.contains(QStringLiteral("Connecting to")), qPrintable(errors));
    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    QVERIFY(first.waitForFinished(10000));
}

void TestEntry::lockOfAKilledInstanceIsRecovered()
{
    requireDisplay();
    Home home;
    QProcess crashed;
    start(crashed, home, QStringLiteral("xcb"));
    QVERIFY(waitForRunning(crashed).contains(QStringLiteral("Connecting to")));
    crashed.kill();
    QVERIFY(crashed.waitForFinished(10000));
    QVERIFY(QFile::exists(home.dir.filePath(QStringLiteral("glimdeck.lock"))));

    QProcess next;
    start(next, home, QStringLiteral("xcb"));
    QVERIFY(waitForRunning(next).contains(QStringLiteral("Connecting to")));
    QCOMPARE(next.state(), QProcess::Running);
    next.terminate();
    QVERIFY(next.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
