// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/servertrust.h"

#include <QDebug>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

void ServerTrust::install(const QByteArray& pem)
{
    if (pem.isEmpty())
        return;
    const QList<QSslCertificate> authorities = QSslCertificate::fromData(pem, QSsl::Pem);
    if (authorities.isEmpty()) {
        qWarning() << "Aucune autorité de certification lisible dans le fichier intégré.";
        return;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // Adding authorities switches off the on-demand loading of the system store, so the
    // system's own are listed explicitly to keep them trusted.
    QList<QSslCertificate> trusted = configuration.caCertificates();
    trusted += QSslConfiguration::systemCaCertificates();
    trusted += authorities;
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
}
