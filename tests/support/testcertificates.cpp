// SPDX-License-Identifier: GPL-3.0-or-later
#include "testcertificates.h"

#include "net/servertrust.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

TestCertificates& TestCertificates::instance()
{
    static TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates()
{
    m_valid = m_dir.isValid() && make(m_dir.path()) && make(m_dir.filePath(u"untrusted"_s));
}

namespace {

// Under Wine the script runs as a Linux program: it gets the folder's Linux path.
QString pathForScript(const QString& directory)
{
    using UnixFileName = char* (*)(const wchar_t*);
    using ProcessHeap = void* (*)();
    using HeapFree = int (*)(void*, unsigned long, void*);
    const QString kernel = u"kernel32"_s;
    const auto unixFileName = reinterpret_cast<UnixFileName>(QLibrary::resolve(kernel, "wine_get_unix_file_name"));
    const auto processHeap = reinterpret_cast<ProcessHeap>(QLibrary::resolve(kernel, "GetProcessHeap"));
    const auto heapFree = reinterpret_cast<HeapFree>(QLibrary::resolve(kernel, "HeapFree"));
    if (!unixFileName || !processHeap || !heapFree)
        return directory;
    char* converted = unixFileName(QDir::toNativeSeparators(directory).toStdWString().c_str());
    if (!converted)
        return directory;
    const QString path = QFile::decodeName(converted);
    heapFree(processHeap(), 0, converted);
    return path;
}

// Wine's schannel serves RSA keys only.
QString serverKeyType()
{
    return TestSupport::underWine() ? u"rsa"_s : u"ec"_s;
}

} // namespace

bool TestCertificates::make(const QString& directory)
{
    QProcess process;
    process.start(QStringLiteral(GLIMDECK_MAKE_CERTS), {pathForScript(directory), u"2"_s, serverKeyType()});
    // Wine gives no exit status for a Linux program: there the files tell, server.pem made last
    // and the server.ext it is signed with then gone.
    const auto made = [&directory] {
        return QFile::exists(directory + u"/server.pem"_s) && !QFile::exists(directory + u"/server.ext"_s);
    };
    const bool underWine = TestSupport::underWine();
    const bool finished = underWine ? QTest::qWaitFor(made, 60000) : process.waitForFinished(60000);
    if (!finished || (!underWine && process.exitCode() != 0)) {
        qWarning() << "make-certs failed:" << process.readAllStandardError();
        return false;
    }
    return true;
}

QSslConfiguration TestCertificates::configurationFrom(const QString& directory)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // The authority goes with the chain: under Wine a client trusts it only there.
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(directory + u"/server.pem"_s)
                                           + QSslCertificate::fromPath(directory + u"/ca.pem"_s));
    const QByteArray key = TestSupport::readFile(directory + u"/server.key"_s);
    configuration.setPrivateKey(QSslKey(key, serverKeyType() == u"rsa" ? QSsl::Rsa : QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

bool TestCertificates::trustInProcess()
{
    const TestCertificates& certificates = instance();
    if (certificates.m_valid)
        ServerTrust::install(TestSupport::readFile(certificates.filePath(u"ca.pem"_s)));
    return certificates.m_valid;
}
