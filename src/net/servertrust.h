// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Certificate authorities trusted in addition to the system's, for a server with a private
// authority. Verification itself is never relaxed.
class ServerTrust
{
public:
    // The PEM bundle embedded at build time; empty when the build names none.
    static QByteArray embeddedAuthorities();

    // Sockets copy the default TLS configuration when they are constructed, so this runs
    // before any of them exists.
    static void install() { install(embeddedAuthorities()); }
    static void install(const QByteArray& pem);
};
