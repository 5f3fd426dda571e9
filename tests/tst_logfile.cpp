// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/logfile.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

class TestLogFile : public QObject
{
    Q_OBJECT

private slots:
    void rotatesWhileWritingAndLetsGoWhenGone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"logs/test.log"_s); // in a folder still to be made
        LogCapture before; // where the lines went before it, and only there once it is gone
        std::optional<LogFile> logFile(std::in_place, path, 100);
        for (int i = 0; i < 10; ++i)
            qDebug() << "ligne" << i;
        logFile.reset();
        qDebug() << "après";
        const QByteArray kept = TestSupport::readFile(path);
        const QByteArray moved = TestSupport::readFile(path + u".1"_s);
        QVERIFY(kept.endsWith("ligne 9\n"));
        QVERIFY(!kept.contains("ligne 0\n"));
        QVERIFY(!moved.isEmpty());
        QVERIFY(moved.size() < 140);
        QCOMPARE(before.lines().mid(9), (QStringList{"ligne 9", "après"}));
    }
};

QTEST_GUILESS_MAIN(TestLogFile)
#include "tst_logfile.moc"
