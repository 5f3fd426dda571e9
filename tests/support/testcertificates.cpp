// SPDX-License-Identifier: GPL-3.0-or-later
#include "testcertificates.h"

#include "net/servertrust.h"
#include "testsupport.h"

TestCertificates& TestCertificates::instance()
{
    static TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates()
{
    m_valid = m_dir.isValid() && make(m_dir.path()) && make(m_dir.filePath(QStringLiteral("untrusted")));
}

namespace {

// Under Wine the script runs as the Linux program it is, so it is given the folder's Linux path
// (Wine's kernel32 converts it; elsewhere the path is already the script's own).
QString pathForScript(const QString& directory)
{
    using UnixFileName = char* (*)(const wchar_t*);
    using ProcessHeap = void* (*)();
    using HeapFree = int (*)(void*, unsigned long, void*);
    const QString kernel = QStringLiteral("kernel32");
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

// Wine's schannel serves TLS with RSA keys only.
QString serverKeyType()
{
    return TestSupport::underWine() ? QStringLiteral("rsa") : QStringLiteral("ec");
}

} // namespace

bool TestCertificates::make(const QString& directory)
{
    QProcess process;
    process.start(QStringLiteral(GLIMDECK_MAKE_CERTS),
                  {pathForScript(directory), QStringLiteral("2"), serverKeyType()});
    // Wine gives no waitable handle or exit status for a Linux program it starts: there the
    // files tell, the server certificate coming last and the server.ext it is signed with then gone.
    const bool underWine = TestSupport::underWine();
    const bool finished = underWine ? QTest::qWaitFor(
                              [&directory] {
                                  return QFile::exists(directory + QStringLiteral("/server.pem"))
                                         && !QFile::exists(directory + QStringLiteral("/server.ext"));
                              },
                              60000)
                                    : process.waitForFinished(60000);
    const bool succeeded = underWine || process.exitCode() == 0;
    if (!finished || !succeeded) {
        qWarning() << "make-certs failed:" << process.readAllStandardError();
        return false;
    }
    return true;
}

QByteArray TestCertificates::authorityPem() const
{
    QFile file(m_dir.filePath(QStringLiteral("ca.pem")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSslConfiguration TestCertificates::configurationFrom(const QString& directory)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // The authority goes with the chain, as a client under Wine trusts it only there: Wine's schannel
    // holds no certificate store without a private key, so Qt's store of trusted authorities stays empty.
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(directory + QStringLiteral("/server.pem"))
                                           + QSslCertificate::fromPath(directory + QStringLiteral("/ca.pem")));
    QFile keyFile(directory + QStringLiteral("/server.key"));
    if (keyFile.open(QIODevice::ReadOnly))
        configuration.setPrivateKey(QSslKey(keyFile.readAll(), serverKeyType() == u"rsa" ? QSsl::Rsa : QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // servers here ask no client certificate
    return configuration;
}

bool TestCertificates::trustInProcess()
{
    const TestCertificates& certificates = instance();
    if (certificates.m_valid)
        ServerTrust::install(certificates.authorityPem());
    return certificates.m_valid;
}
