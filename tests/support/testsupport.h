#pragma once

#include <QByteArray>
#include <QColor>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QUrl>

// Small pieces that several tests need alike.
namespace TestSupport {

// A picture of one colour, encoded as PNG.
QByteArray png(const QSize& size, const QColor& colour);

// An address on loopback that refuses every connection: nothing listens on the privileged
// port 1, and unlike a freed port it cannot be taken again meanwhile.
QUrl refusedUrl(const QString& scheme, const QString& path = QString());

// The environment of a child program whose data, configuration and lock all live under home,
// with its log lines on standard error.
QProcessEnvironment childEnvironment(const QString& home, const QString& platform);

} // namespace TestSupport
