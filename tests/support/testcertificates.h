// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

// A certificate authority and a localhost certificate made at test time with the openssl tool,
// so no private key is ever committed. One instance per test process (see instance()).
class TestCertificates
{
public:
    static TestCertificates& instance();

    QByteArray authorityPem() const;
    // The folder's "server.pem" and "server.key", for a server run as a program of its own.
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // Server side TLS configuration presenting the localhost certificate.
    QSslConfiguration serverConfiguration() const { return configurationFrom(m_dir.path()); }
    // A configuration whose certificate no client here trusts: a second, unrelated authority.
    QSslConfiguration untrustedServerConfiguration() const { return configurationFrom(m_dir.filePath("untrusted")); }

    // Makes this process trust the test authority, the way the program trusts an embedded one;
    // false when the certificates could not be made. For initTestCase: QVERIFY(trustInProcess()).
    static bool trustInProcess();

private:
    TestCertificates();
    static bool make(const QString& directory);
    static QSslConfiguration configurationFrom(const QString& directory);

    QTemporaryDir m_dir;
    bool m_valid = false;
};
