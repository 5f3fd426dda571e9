// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The test support: Qt's test, network, WebSocket and widget modules, the fixtures, and small
// pieces that several tests need alike. Every test includes this one header.
#include "logcapture.h"
#include "silentproxy.h"
#include "stdoutcapture.h"
#include "testcertificates.h"
#include "testhttpsserver.h"
#include "testwebsocketserver.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWebSockets>
#include <QtWidgets>

namespace TestSupport {

// Whether this Windows build runs under Wine, which lacks some of Windows' services: the tests
// that need one skip themselves there, naming it.
bool underWine();
// Wine's schannel has no server side (no AcceptSecurityContext): a test with a TLS server of its
// own skips itself there.
#define SKIP_WITHOUT_TLS_SERVER()                                                                                      \
    if (TestSupport::underWine())                                                                                      \
    QSKIP("Wine's schannel cannot serve TLS (it has no AcceptSecurityContext), and this test's server needs it")

// A picture of one colour, encoded as PNG.
QByteArray png(const QSize& size, const QColor& colour);

// An address on loopback that refuses every connection: nothing listens on the privileged
// port 1, and unlike a freed port it cannot be taken again meanwhile.
QUrl refusedUrl(const QString& scheme, const QString& path = QString());

// The environment of a child program whose data, configuration and lock all live under home,
// with its log lines on standard error and no system bus.
QProcessEnvironment childEnvironment(const QString& home, const QString& platform);

// Real X input: runs xdotool with the arguments and returns its output lines.
QStringList xdotool(const QStringList& arguments);

// The Authorization header this build's client must send: "Bearer " and the key it was built
// with, empty when it has none.
QByteArray expectedAuthorization();

// A file's bytes, null when it cannot be read; a file written whole, its folder made first.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

struct Reply
{
    int status = 0; // 0: no answer
    QByteArray body;
    QByteArray contentType;
};
using Fields = QList<QPair<QByteArray, QByteArray>>;

// Waits for the reply to finish, 10 s at most, and takes what it brought.
Reply finish(QNetworkReply* reply);
// Posts the fields as a multipart form, the "picture" field as a file.
Reply post(QNetworkAccessManager& network, const QUrl& url, const Fields& fields, const Fields& headers = {});

// The application's top-level windows of one class on screen (a hidden one may be kept for reuse).
template <class T>
QList<T*> windows()
{
    QList<T*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<T*>(widget); window && window->isVisible())
            found.append(window);
    }
    return found;
}

} // namespace TestSupport
