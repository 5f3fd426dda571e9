// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the reading of the room list file.
#include "settings/roomlistfile.h"

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
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QJsonArray> rooms = RoomListFile::parse(content);
    if (rooms) {
        for (const QJsonValue& room : *rooms)
            (void)room.toString();
    }
    return 0;
}
