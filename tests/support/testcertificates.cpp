#include "testcertificates.h"

#include "net/servertrust.h"

TestCertificates& TestCertificates::instance()
{
    static TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates()
{
    m_valid = m_dir.isValid() && make(m_dir.path()) && make(m_dir.filePath(QStringLiteral("untrusted")));
}

bool TestCertificates::make(const QString& directory)
{
    QProcess process;
    process.start(QStringLiteral(GLIMDECK_MAKE_CERTS), {directory, QStringLiteral("2")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
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
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(directory + QStringLiteral("/server.pem")));
    QFile keyFile(directory + QStringLiteral("/server.key"));
    if (keyFile.open(QIODevice::ReadOnly))
        configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
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
