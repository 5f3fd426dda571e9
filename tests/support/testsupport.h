// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

bool underWine();
// Wine's schannel has no server side (no AcceptSecurityContext): a test with a TLS server of its
// own skips itself there.
#define SKIP_WITHOUT_TLS_SERVER()                                                                                      \
    if (TestSupport::underWine())                                                                                      \
    QSKIP("Wine's schannel cannot serve TLS (it has no AcceptSecurityContext), and this test's server needs it")

QByteArray png(const QSize& size, const QColor& colour);

// Configuration and data under home, the test authority trusted, server listening on loopback.
bool setUpClient(TestHttpsServer& server, const QString& home);

// Gives GlimDeck a photo as its server link does.
bool showPhoto(QObject* glimDeck, const QUrl& url, const QString& message, const QString& room = QString());

// Nothing listens on the privileged port 1, and no one can take it meanwhile.
QUrl refusedUrl(const QString& scheme, const QString& path = QString());

// Data, configuration and lock under home; logs on standard error; no system bus.
QProcessEnvironment childEnvironment(const QString& home, const QString& platform);

// The server on 127.0.0.1, its pictures in storage, its certificate and key in certs.
QStringList serverArguments(const QString& storage, const QString& certs);
// A loopback port that was free when asked; 1, which refuses, when none was.
quint16 freePort();
void stopAll(const QList<QProcess*>& processes); // each asked to end, and given 5 s

QStringList xdotool(const QStringList& arguments);               // its output lines
bool runs(const QString& program, const QStringList& arguments); // and exits with 0

// "Bearer " and this build's view key; empty without one.
QByteArray expectedAuthorization();

QByteArray readFile(const QString& path);                     // null when unreadable
bool writeFile(const QString& path, const QByteArray& bytes); // its folder made first

using Ports = QList<std::pair<QString, quint16>>;
// nginx in dir, in the background, with the shipped site: on 127.0.0.1:port with the certificate
// in certs, its picture cache in dir, and each upstream port (":8080") replaced as given.
bool startNginx(QProcess& nginx, const QString& dir, const QString& site, const QString& certs, quint16 port,
                const Ports& upstreams);

struct Reply
{
    int status = 0; // 0: no answer
    QByteArray body;
    QByteArray contentType;
};
using Fields = QList<QPair<QByteArray, QByteArray>>;

Reply finish(QNetworkReply* reply); // 10 s at most
// A multipart form, the "picture" field as a file.
Reply post(QNetworkAccessManager& network, const QUrl& url, const Fields& fields, const Fields& headers = {});

// Those shown (a hidden one may be kept for reuse).
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
