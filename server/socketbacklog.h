// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSslSocket>

namespace SocketBacklog {

// Bytes still waiting in the process to be sent: over TLS, what is encrypted but not yet taken
// by the kernel too, since the TLS socket encrypts everything it is given at once.
inline qint64 unsentBytes(const QTcpSocket* socket)
{
    const auto* tls = qobject_cast<const QSslSocket*>(socket);
    return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

} // namespace SocketBacklog
