#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

// The real executable, as a user starts it.
class TestEntry : public QObject
{
    Q_OBJECT

private slots:
    void endsWithoutNotificationArea();
    void runsAndConnectsWithNotificationArea();

private:
    static QProcessEnvironment environment(const QString& platform, const QTemporaryDir& home);
};

QProcessEnvironment TestEntry::environment(const QString& platform, const QTemporaryDir& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return environment;
}

void TestEntry::endsWithoutNotificationArea()
{
    QTemporaryDir home;
    QProcess program;
    program.setProcessEnvironment(environment(QStringLiteral("offscreen"), home));
    program.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
    QVERIFY(program.waitForFinished(20000));
    const QString errors = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    QVERIFY2(errors.contains(QStringLiteral("No system tray available, exiting.")), qPrintable(errors));
    QVERIFY2(!errors.contains(QStringLiteral("Connecting to")), qPrintable(errors));
}

void TestEntry::runsAndConnectsWithNotificationArea()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs a display with a notification area (the test script provides one)");
    QTemporaryDir home;
    QProcess program;
    program.setProcessEnvironment(environment(QStringLiteral("xcb"), home));
    program.start(QStringLiteral(GLIMDECK_EXECUTABLE), QStringList());
    QVERIFY(program.waitForStarted(10000));
    QString errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += QString::fromUtf8(program.readAllStandardError()))
                                 .contains(QStringLiteral("Connecting to \"wss://")),
                             20000);
    QCOMPARE(program.state(), QProcess::Running);
    program.terminate();
    QVERIFY(program.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
