// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QNetworkProxyFactory>
#include <QStringList>

// Chooses the proxy of every connection the program makes (the WebSocket, the pictures, the
// counter): the one the system names, or none. On Windows and macOS that is the system's own
// settings; elsewhere the https_proxy (or HTTPS_PROXY) variable, with no_proxy honoured.
// Qt itself never proxies a loopback address.
class SystemProxy : public QNetworkProxyFactory
{
public:
    // Makes a new instance the application's factory; sockets ask it as they connect.
    static void install();

    SystemProxy();
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override;

private:
    static QNetworkProxyQuery asUrlRequest(const QNetworkProxyQuery& query);
    static QNetworkProxy proxyFromEnvironment();
    bool bypasses(const QString& host) const;

    QNetworkProxy m_proxy;
    QStringList m_noProxy;
};
