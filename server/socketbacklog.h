// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSslSocket>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace SocketBacklog {

// Bytes still waiting in the process to be sent: over TLS, what is encrypted but not yet taken
// by the kernel too, since the TLS socket encrypts everything it is given at once.
inline qint64 unsentBytes(const QTcpSocket* socket)
{
    const auto* tls = qobject_cast<const QSslSocket*>(socket);
    return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

// Bytes the peer sent that the kernel holds and the process has not read yet.
inline qint64 unreadBytes(const QTcpSocket* socket)
{
    int bytes = 0;
#ifdef Q_OS_UNIX
    if (!socket || socket->socketDescriptor() < 0 || ::ioctl(int(socket->socketDescriptor()), FIONREAD, &bytes) != 0)
        return 0;
#else
    Q_UNUSED(socket)
#endif
    return bytes;
}

} // namespace SocketBacklog
