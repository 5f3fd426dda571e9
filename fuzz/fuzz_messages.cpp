// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary text to the client's handling of server messages.
#include "net/websocketclient.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace {

WebSocketClient* client()
{
    // Port 9 on loopback: the opening attempt fails quietly; no event loop runs anyway.
    static WebSocketClient instance(QUrl(QStringLiteral("wss://127.0.0.1:9")), nullptr);
    return &instance;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    client();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QMetaObject::invokeMethod(client(), "onTextMessageReceived", Qt::DirectConnection, Q_ARG(QString, text));
    return 0;
}
