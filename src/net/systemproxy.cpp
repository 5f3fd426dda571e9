// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/systemproxy.h"

#include <QDebug>
#include <QHostAddress>
#include <QUrl>

namespace {

QString firstSet(const char* name, const char* otherName)
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? qEnvironmentVariable(otherName).trimmed() : value;
}

} // namespace

void SystemProxy::install()
{
    QNetworkProxyFactory::setApplicationProxyFactory(new SystemProxy);
}

SystemProxy::SystemProxy()
{
#if !defined(Q_OS_WIN) && !defined(Q_OS_DARWIN)
    m_proxy = proxyFromEnvironment();
    const QString noProxy = firstSet("no_proxy", "NO_PROXY").toLower();
    for (const QString& entry : noProxy.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = entry.trimmed();
        m_noProxy.append(name.startsWith(QLatin1Char('.')) ? name.mid(1) : name);
    }
#endif
}

QList<QNetworkProxy> SystemProxy::queryProxy(const QNetworkProxyQuery& query)
{
    const QNetworkProxyQuery request = asUrlRequest(query);
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    return systemProxyForQuery(request);
#else
    if (m_proxy.type() == QNetworkProxy::NoProxy || request.url().scheme() != QLatin1String("https")
        || bypasses(request.peerHostName()))
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    return {m_proxy};
#endif
}

// The WebSocket asks as a bare TCP socket (tagged "https" by Qt 6.4, "wss" by others), which the
// system's lookup answers with no proxy at all. Asked as the HTTPS request that the opening
// handshake is, it gets the web proxy, which a socket reaches through a CONNECT tunnel.
QNetworkProxyQuery SystemProxy::asUrlRequest(const QNetworkProxyQuery& query)
{
    QString scheme = query.protocolTag().toLower();
    if (scheme == QLatin1String("wss"))
        scheme = QStringLiteral("https");
    else if (scheme == QLatin1String("ws"))
        scheme = QStringLiteral("http");
    QUrl url = query.url();
    url.setScheme(scheme);
    return QNetworkProxyQuery(url, QNetworkProxyQuery::UrlRequest);
}

QNetworkProxy SystemProxy::proxyFromEnvironment()
{
    QString value = firstSet("https_proxy", "HTTPS_PROXY");
    if (value.isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    if (!value.contains(QLatin1String("://")))
        value.prepend(QLatin1String("http://"));
    const QUrl url(value, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool socks = scheme == QLatin1String("socks5") || scheme == QLatin1String("socks5h");
    if (!url.isValid() || url.host().isEmpty() || (!socks && scheme != QLatin1String("http"))) {
        // The value may hold a password: it is not written to the log.
        qWarning() << "Proxy ignoré : https_proxy n'est pas une adresse http:// ou socks5:// utilisable.";
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
    qDebug() << "Connexions par le proxy" << url.host() << url.port(1080);
    return QNetworkProxy(socks ? QNetworkProxy::Socks5Proxy : QNetworkProxy::HttpProxy, url.host(),
                         quint16(url.port(1080)), url.userName(), url.password());
}

// Entries are names, matching themselves and their subdomains, addresses and subnets
// (10.0.0.0/8), or "*" for every host.
bool SystemProxy::bypasses(const QString& host) const
{
    const QHostAddress address(host);
    for (const QString& entry : m_noProxy) {
        if (entry == QLatin1String("*") || host == entry || host.endsWith(QLatin1Char('.') + entry))
            return true;
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(entry);
        if (!address.isNull() && subnet.second >= 0 && address.isInSubnet(subnet))
            return true;
    }
    return false;
}
