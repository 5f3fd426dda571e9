// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

using namespace Qt::StringLiterals;

// It must exit with 0 and, asked to be quiet, say nothing but "valid".
static QByteArray run(const QString& command, bool quiet = false)
{
    QProcess process;
    process.start(u"sh"_s, {u"-c"_s, u"exec 2>&1; "_s + command});
    const bool finished = process.waitForFinished(300000);
    const QByteArray output = process.readAll();
    const auto check = [&](bool ok) { QVERIFY2(ok, qPrintable(command + output)); };
    check(finished);
    check(process.exitCode() == 0);
    if (quiet)
        check(!output.contains(": "));
    return output;
}

static void checkTree(const QString& tree, const QString& prefix) // seen by the system in prefix
{
    const QString in = u"cd %1 && "_s.arg(tree);
    QVERIFY(run(in + u"env -i bin/glimdeck --help"_s).startsWith("Usage: glimdeck\n")); // no display needed
    QVERIFY(run(in + u"env -i bin/glimdeck-server --help"_s).startsWith("Usage: "));
    const QString unit = u" lib/systemd/system/glimdeck-server.service"_s;
    run(in + u"grep '^ExecStart=%1/bin/glimdeck-server --cert'"_s.arg(prefix) + unit);
    run(in + u"grep '^MemoryMax=[0-9]'"_s + unit);
    // An exposure of at most 1.5 as systemd rates it.
    run(in + u"systemd-analyze security --offline=true --threshold=15"_s + unit);
    QCOMPARE(QImageReader(tree + u"/share/icons/hicolor/256x256/apps/glimdeck.png"_s).size(), QSize(256, 256));
    run(in + u"desktop-file-validate share/applications/glimdeck.desktop"_s, true);
    run(in + u"appstreamcli validate --no-net --strict share/metainfo/org.glimdeck.glimdeck.metainfo.xml"_s, true);
}

// The install step and the Debian packages, checked by the Linux tools; the authority embedded.
class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void installPutsEveryFileInPlace()
    {
        QTemporaryDir prefix;
        run(u"cmake --install \"" GLIMDECK_BINARY_DIR "\" --prefix "_s + prefix.path());
        checkTree(prefix.path(), prefix.path());
    }

    void debianPackagesInstallIntoARoot()
    {
        if (QStandardPaths::findExecutable(u"dpkg-deb"_s).isEmpty())
            QSKIP("needs dpkg");
        QTemporaryDir work;
        run(u"cpack --config \"" GLIMDECK_BINARY_DIR "/CPackConfig.cmake\" -B "_s + work.path());
        const QStringList names = QDir(work.path()).entryList({u"*.deb"_s}, QDir::Files, QDir::Name | QDir::Reversed);
        QCOMPARE(names.size(), 2);
        QVERIFY(names.first().startsWith(u"glimdeck_"_s));
        run(u"dpkg-deb -f %1 Depends | grep libqt6websockets6"_s.arg(work.filePath(names.first())));
        run(u"lintian --fail-on error,warning %1/*.deb"_s.arg(work.path()), true);
        QVERIFY(TestSupport::writeFile(work.filePath(u"root/var/lib/dpkg/status"_s), {}));
        run(u"dpkg --force-depends --force-not-root --log=/dev/null --root=%1/root -i %1/*.deb"_s.arg(work.path()));
        checkTree(work.filePath(u"root/usr"_s), u"/usr"_s);
    }

    // The second step names nothing, as when CMake runs again.
    void authorityHoldsForItsHostOnly()
    {
        QTemporaryDir work;
        QVERIFY(TestSupport::writeFile(work.filePath(u"ca.pem"_s), "-----BEGIN CERTIFICATE-----\n"));
        const QString ca = u" -DGLIMDECK_SERVER_CA="_s + work.filePath(u"ca.pem"_s);
        const QString demo = u" -DGLIMDECK_SERVER_HOST=localhost:8443"_s;
        const QString real = u" -DGLIMDECK_SERVER_HOST=photos.example.org"_s;
        for (const auto& [step, embedded] : QList<QPair<QString, bool>>{
                 {demo + ca, true}, {QString(), true}, {real, false}, {demo, false}, {real + ca, true}}) {
            run(u"cmake -G Ninja -DGLIMDECK_BUILD_TESTS=OFF -S \"" GLIMDECK_SOURCE_DIR "\" -B "_s + work.path() + step);
            const QByteArray bundle = TestSupport::readFile(work.filePath(u"src/net/generated/servercabundle.cpp"_s));
            QVERIFY(!bundle.isNull());
            QVERIFY2(bundle.contains("'\\x2d'") == embedded, qPrintable(step));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
