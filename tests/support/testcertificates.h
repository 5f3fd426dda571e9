// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtNetwork>

// An authority and a localhost certificate made at test time, so no key is committed.
class TestCertificates
{
public:
    static TestCertificates& instance();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QSslConfiguration serverConfiguration() const { return configurationFrom(m_dir.path()); }
    // Signed by another authority, which no client here trusts.
    QSslConfiguration untrustedServerConfiguration() const { return configurationFrom(m_dir.filePath("untrusted")); }

    // Trusts the authority as the program trusts an embedded one; false without certificates.
    static bool trustInProcess();

private:
    TestCertificates();
    static bool make(const QString& directory);
    static QSslConfiguration configurationFrom(const QString& directory);

    QTemporaryDir m_dir;
    bool m_valid = false;
};
