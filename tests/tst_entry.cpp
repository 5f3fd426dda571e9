// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/logfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

class TestEntry : public QObject
{
    Q_OBJECT

    // Starts the executable with its files under home; what it printed once it connects or ends.
    static QString start(QProcess& program, const QTemporaryDir& home, const QString& platform)
    {
        program.setProcessEnvironment(TestSupport::childEnvironment(home.path(), platform));
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(GLIMDECK_EXECUTABLE));
        QString output;
        while (!output.contains(u"Connecting to \"wss://"_s) && program.waitForReadyRead(20000))
            output += QString::fromUtf8(program.readAll());
        return output + QString::fromUtf8(program.readAll());
    }

private slots:
    void endsWithoutNotificationArea_data()
    {
        QTest::addColumn<QByteArray>("before"); // the log already there; none: a folder in its place
        QTest::addColumn<QString>("after");     // what the log holds then, as a pattern
        const QString line = u"[-\\d]{10} [:\\d]{8}\\.\\d{3} No system tray available, exiting\\.\\n"_s; // stamped
        QTest::newRow("short log goes on") << QByteArray("avant\n") << u"avant\\n"_s + line;
        QTest::newRow("full log moved aside") << QByteArray(LogFile::MAX_SIZE, 'a') << line;
        QTest::newRow("a folder where the log goes") << QByteArray() << QString();
    }

    void endsWithoutNotificationArea()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, after);
        QTemporaryDir home;
        const QString log = home.filePath(u"data/glimdeck/glimdeck.log"_s);
        QVERIFY(TestSupport::writeFile(log + u".1"_s, "older"));
        QVERIFY(before.isEmpty() ? QDir().mkpath(log) : TestSupport::writeFile(log, before));
        QProcess app;
        const QString output = start(app, home, u"offscreen"_s);
        QVERIFY2(output.contains(u"No system tray available, exiting.\n"_s), qPrintable(output));
        QVERIFY(app.exitStatus() == QProcess::NormalExit && app.exitCode() != 0 && !output.contains(u"Connecting"_s));
        QCOMPARE(TestSupport::readFile(log + u".1"_s), before.size() == LogFile::MAX_SIZE ? before : "older");
        const QString logged = QString::fromUtf8(TestSupport::readFile(log));
        QVERIFY2(QRegularExpression(u"^%1\\z"_s.arg(after)).match(logged).hasMatch(), qPrintable(logged));
    }

    void logFileRotatesWhileWritingAndLetsGoWhenGone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"logs/test.log"_s); // in a folder still to be made
        LogCapture before; // where the lines went before it, and only there once it is gone
        std::optional<LogFile> logFile(std::in_place, path, 100);
        for (int i = 0; i < 10; ++i)
            qDebug() << "ligne" << i;
        logFile.reset();
        qDebug() << "après";
        const QByteArray kept = TestSupport::readFile(path), moved = TestSupport::readFile(path + u".1"_s);
        QVERIFY2(kept.endsWith("ligne 9\n") && !kept.contains("ligne 0\n") && !moved.isEmpty() && moved.size() < 140,
                 kept + '|' + moved);
        QCOMPARE(before.lines().mid(9), (QStringList{"ligne 9", "après"}));
    }

    void oneInstanceAtATime()
    {
        QTemporaryDir home;
        QProcess first, second, next; // the second ends at once; the next takes a killed first's lock over
        QVERIFY(start(first, home, u"xcb"_s).contains(u"Connecting to"_s));
        const QString output = start(second, home, u"xcb"_s);
        QVERIFY2(output.contains(u"Glim-deck est déjà lancé, cette instance s'arrête."_s), qPrintable(output));
        QVERIFY(second.exitCode() != 0 && !output.contains(u"Connecting to"_s));
        const QString log = home.filePath(u"data/glimdeck/glimdeck.log"_s);
        QByteArray logged; // without a system bus the first says so once; the second never writes here
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
