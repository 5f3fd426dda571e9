#include "testsupport.h"

namespace {

QByteArray run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(300000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAll();
}

// PROGRAM must accept the files without a remark: it says nothing, or only that they are valid.
void checkTool(const QString& program, const QStringList& arguments)
{
    QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), qPrintable(program + QStringLiteral(" missing")));
    int exitCode = 0;
    const QByteArray output = run(program, arguments, &exitCode);
    QVERIFY2(exitCode == 0 && !output.contains(": "), qPrintable(program + QLatin1Char('\n') + output));
}

// ROOT is where the files are, PREFIX where the system will see them.
void checkTree(const QString& root, const QString& prefix)
{
    const QString tree = root + prefix;
    for (const char* file : {"/bin/glimdeck", "/bin/glimdeck-server"}) {
        const QFileInfo executable(tree + QLatin1String(file));
        QVERIFY2(executable.isFile() && executable.isExecutable(), qPrintable(executable.filePath()));
    }
    for (const char* file : {"/share/man/man1/glimdeck.1.gz", "/share/man/man1/glimdeck-server.1.gz",
                             "/share/doc/glimdeck/copyright", "/share/doc/glimdeck-server/changelog.gz"})
        QVERIFY2(QFile::exists(tree + QLatin1String(file)), file);
    QFile unit(tree + QStringLiteral("/lib/systemd/system/glimdeck-server.service"));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    QVERIFY(unit.readAll().contains("\nExecStart=" + QFile::encodeName(prefix) + "/bin/glimdeck-server --cert"));

    // Help is answered without a display.
    QProcess help;
    help.setProcessEnvironment(QProcessEnvironment());
    help.start(tree + QStringLiteral("/bin/glimdeck"), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().startsWith("Usage: glimdeck\n"));

    const QString launcher = tree + QStringLiteral("/share/applications/glimdeck.desktop");
    QFile file(launcher);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString entry = QString::fromUtf8(file.readAll());
    for (const char* line : {"^Type=Application$", "^Name=Glim-deck$", "^Exec=glimdeck$", "^Icon=glimdeck$",
                             "^Comment=.", "^Categories=.*Network;"}) {
        const QRegularExpression pattern(QLatin1String(line), QRegularExpression::MultilineOption);
        QVERIFY2(pattern.match(entry).hasMatch(), line);
    }

    QImageReader icon(tree + QStringLiteral("/share/icons/hicolor/256x256/apps/glimdeck.png"));
    QCOMPARE(icon.size(), QSize(256, 256));

    checkTool(QStringLiteral("desktop-file-validate"), {launcher});
    checkTool(QStringLiteral("appstreamcli"),
              {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--strict"),
               tree + QStringLiteral("/share/metainfo/org.glimdeck.glimdeck.metainfo.xml")});
}

} // namespace

// The install step and the Debian packages, installed into temporary roots, and the checks the
// Linux tools make of what they hold.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installPutsEveryFileInPlace();
    void debianPackagesInstallIntoARoot();
    void authorityHoldsForItsHostOnly();
};

void TestInstall::installPutsEveryFileInPlace()
{
    QTemporaryDir prefix;
    int exitCode = 0;
    const QByteArray output = run(
        QStringLiteral("cmake"),
        {QStringLiteral("--install"), QStringLiteral(GLIMDECK_BINARY_DIR), QStringLiteral("--prefix"), prefix.path()},
        &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    checkTree(QString(), prefix.path());
}

void TestInstall::debianPackagesInstallIntoARoot()
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
    QStringList packages;
    for (const QString& name :
         QDir(work.path()).entryList({QStringLiteral("*.deb")}, QDir::Files, QDir::Name | QDir::Reversed))
        packages << work.filePath(name);
    QCOMPARE(packages.size(), 2);
    QVERIFY2(packages.first().contains(QStringLiteral("/glimdeck_")), qPrintable(packages.first()));

    const QString depends = QString::fromUtf8(
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), packages.first(), QStringLiteral("Depends")}));
    for (const char* library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6", "libqt6websockets6"})
        QVERIFY2(depends.contains(QLatin1String(library)), qPrintable(depends));
    checkTool(QStringLiteral("lintian"),
              QStringList{QStringLiteral("--fail-on"), QStringLiteral("error,warning")} + packages);

    // An empty package database of its own, so nothing on this machine is touched.
    const QString root = work.filePath(QStringLiteral("root"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/var/lib/dpkg/info")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/var/lib/dpkg/updates")));
    QFile status(root + QStringLiteral("/var/lib/dpkg/status"));
    QVERIFY(status.open(QIODevice::WriteOnly));
    status.close();
    output =
        run(QStringLiteral("dpkg"),
            QStringList{QStringLiteral("--root=") + root, QStringLiteral("--force-depends"),
                        QStringLiteral("--force-not-root"), QStringLiteral("--log=/dev/null"), QStringLiteral("-i")}
                + packages,
            &exitCode);
    QVERIFY2(exitCode == 0, output.constData());
    checkTree(root, QStringLiteral("/usr"));
}

// Configures one build folder in turn; after each step the build embeds the first authority or
// not. It goes with its host and never comes back without being named again.
void TestInstall::authorityHoldsForItsHostOnly()
{
    QTemporaryDir work;
    const QString authority = work.filePath(QStringLiteral("authority.pem"));
    QFile file(authority);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("-----BEGIN CERTIFICATE-----\n");
    file.close();
    const QString demoHost = QStringLiteral("-DGLIMDECK_SERVER_HOST=localhost:8443");
    const QString realHost = QStringLiteral("-DGLIMDECK_SERVER_HOST=photos.example.org");
    const QString named = QStringLiteral("-DGLIMDECK_SERVER_CA=") + authority;
    const QList<QPair<QStringList, bool>> steps = {
        {{demoHost, named}, true}, {{}, true}, // as when a changed CMake file makes the build configure again
        {{realHost}, false},       {{demoHost}, false}, {{realHost, named}, true},
    };
    const QString build = work.filePath(QStringLiteral("build"));
    for (const auto& [arguments, embedded] : steps) {
        int exitCode = 0;
        const QByteArray output =
            run(QStringLiteral("cmake"),
                QStringList{QStringLiteral("-S"), QStringLiteral(GLIMDECK_SOURCE_DIR), QStringLiteral("-B"), build,
                            QStringLiteral("-G"), QStringLiteral("Ninja"), QStringLiteral("-DGLIMDECK_BUILD_TESTS=OFF")}
                    + arguments,
                &exitCode);
        QVERIFY2(exitCode == 0, output.constData());
        QFile bundle(build + QStringLiteral("/src/net/generated/servercabundle.cpp"));
        QVERIFY(bundle.open(QIODevice::ReadOnly));
        QVERIFY2(bundle.readAll().contains("'\\x2d'") == embedded, qPrintable(arguments.join(QLatin1Char(' '))));
    }
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
