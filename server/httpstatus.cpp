// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpstatus.h"

#include <QHash>

QByteArray HttpStatus::reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases{{101, "Switching Protocols"},
                                                {200, "OK"},
                                                {303, "See Other"},
                                                {304, "Not Modified"},
                                                {400, "Bad Request"},
                                                {401, "Unauthorized"},
                                                {403, "Forbidden"},
                                                {404, "Not Found"},
                                                {405, "Method Not Allowed"},
                                                {408, "Request Timeout"},
                                                {411, "Length Required"},
                                                {413, "Payload Too Large"},
                                                {415, "Unsupported Media Type"},
                                                {429, "Too Many Requests"},
                                                {431, "Request Header Fields Too Large"},
                                                {500, "Internal Server Error"},
                                                {503, "Service Unavailable"}};
    return phrases.value(status, "Internal Server Error");
}
