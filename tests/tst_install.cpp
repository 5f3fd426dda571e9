#include <QDir>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The install step and the Debian package, installed into temporary roots.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installPutsEveryFileInPlace();
    void debianPackageInstallsIntoARoot();

private:
    static QByteArray run(const QString& program, const QStringList& arguments, int* exitCode = nullptr);
    static void checkTree(const QString& prefix);
};

QByteArray TestInstall::run(const QString& program, const QStringList& arguments, int* exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(300000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAll();
}

void TestInstall::checkTree(const QString& prefix)
{
    const QFileInfo executable(prefix + QStringLiteral("/bin/glimdeck"));
    QVERIFY2(executable.isFile() && executable.isExecutable(), qPrintable(executable.filePath()));

    const QString launcher = prefix + QStringLiteral("/share/applications/glimdeck.desktop");
    QVERIFY(QFile::exists(launcher));
    QFile file(launcher);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QHash<QString, QString> entry;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
        entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("Glim-deck"));
    QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("glimdeck"));
    QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("glimdeck"));
    QVERIFY(!entry.value(QStringLiteral("Comment")).isEmpty());
    QVERIFY(entry.value(QStringLiteral("Categories")).contains(QStringLiteral("Network;")));

    QImageReader icon(prefix + QStringLiteral("/share/icons/hicolor/256x256/apps/glimdeck.png"));
    QCOMPARE(icon.size(), QSize(256, 256));
}

void TestInstall::installPutsEveryFileInPlace()
{
    QTemporaryDir prefix;
    int exitCode = 0;
    const QByteArray output = run(
        QStringLiteral("cmake"),
        {QStringLiteral("--install"), QStringLiteral(GLIMDECK_BINARY_DIR), QStringLiteral("--prefix"), prefix.path()},
        &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    checkTree(prefix.path());
}

void TestInstall::debianPackageInstallsIntoARoot()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
        QSKIP("needs dpkg");
    QTemporaryDir work;
    int exitCode = 0;
    QByteArray output = run(QStringLiteral("cpack"),
                            {QStringLiteral("--config"), QStringLiteral(GLIMDECK_BINARY_DIR "/CPackConfig.cmake"),
                             QStringLiteral("-B"), work.path()},
                            &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    const QStringList packages = QDir(work.path()).entryList({QStringLiteral("glimdeck_*.deb")});
    QCOMPARE(packages.size(), 1);
    const QString package = work.filePath(packages.first());

    const QString depends =
        QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), package, QStringLiteral("Depends")}));
    for (const char* library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libqt6websockets6"})
        QVERIFY2(depends.contains(QLatin1String(library)), qPrintable(depends));

    // An empty package database of its own, so nothing on this machine is touched.
    const QString root = work.filePath(QStringLiteral("root"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/var/lib/dpkg/info")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/var/lib/dpkg/updates")));
    QFile status(root + QStringLiteral("/var/lib/dpkg/status"));
    QVERIFY(status.open(QIODevice::WriteOnly));
    status.close();
    output = run(QStringLiteral("dpkg"),
                 {QStringLiteral("--root=") + root, QStringLiteral("--force-depends"),
                  QStringLiteral("--force-not-root"), QStringLiteral("--log=/dev/null"), QStringLiteral("-i"), package},
                 &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    checkTree(root + QStringLiteral("/usr"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
