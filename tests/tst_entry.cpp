// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;

class TestEntry : public QObject
{
    Q_OBJECT

    // What it printed once it connects or ends.
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
        QTest::addColumn<QByteArray>("before"); // null: a folder in its place
        QTest::addColumn<QString>("after");     // a pattern
        const QString line = u"[-\\d]{10} [:\\d]{8}\\.\\d{3} No system tray available, exiting\\.\\n"_s;
        QTest::newRow("short log goes on") << QByteArray("avant\n") << u"avant\\n"_s + line;
        QTest::newRow("full log moved aside") << QByteArray(1 << 20, 'a') << line;
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
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY(app.exitCode() != 0);
        QCOMPARE(TestSupport::readFile(log + u".1"_s), before.size() == 1 << 20 ? before : "older");
        const QString logged = QString::fromUtf8(TestSupport::readFile(log));
        QVERIFY2(QRegularExpression(u"^%1\\z"_s.arg(after)).match(logged).hasMatch(), qPrintable(logged));
    }

    void oneInstanceAtATime()
    {
        QTemporaryDir home;
        QProcess first;
        QProcess second;
        QProcess next;
        QVERIFY(start(first, home, u"xcb"_s).contains(u"Connecting to"_s));
        const QString output = start(second, home, u"xcb"_s);
        QVERIFY2(output.contains(u"Glim-deck est déjà lancé, cette instance s'arrête."_s), qPrintable(output));
        QVERIFY(second.exitCode() != 0);
        const QString log = home.filePath(u"data/glimdeck/glimdeck.log"_s);
        QTRY_VERIFY(TestSupport::readFile(log).contains("Veille :"));
        const QByteArray logged = TestSupport::readFile(log);
        QCOMPARE(logged.count("Réseau : le système ne signale pas ses changements"), 1);
        QCOMPARE(logged.count("Veille : le système ne signale pas la sortie de veille"), 1);
        QVERIFY(!logged.contains("déjà lancé"));
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(home.filePath(u"glimdeck.lock"_s)));
        QVERIFY(start(next, home, u"xcb"_s).contains(u"Connecting to"_s));
    }
};

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
