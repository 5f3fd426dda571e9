// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the server's request-head and multipart form parsers. The first line
// of the input is also taken as a Content-Type value, and the rest as the form body it announces.
#include "httprequest.h"
#include "multipartform.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    HttpRequest request;
    if (request.parseHead(input)) {
        request.contentLength();
        request.isWebSocketUpgrade();
    }

    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArray contentType = input.left(lineEnd < 0 ? input.size() : lineEnd);
    MultipartForm form;
    form.parse(lineEnd < 0 ? QByteArray() : input.mid(lineEnd + 1), MultipartForm::boundaryOf(contentType));
    return 0;
}
