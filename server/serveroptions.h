// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

// Everything the server is told at start, with the defaults that bound its memory (see the
// README's server section for how they add up).
struct ServerOptions
{
    static constexpr qint64 MIB = 1024 * 1024;
    static constexpr qint64 DEFAULT_MAX_UPLOAD_BYTES = 32 * MIB;
    // Descriptors kept back from the connection limit for pictures, the log and the listener.
    static constexpr int RESERVED_DESCRIPTORS = 64;

    QSslConfiguration tls;
    // Plain HTTP and WebSocket behind a reverse proxy on the same machine.
    bool plain = false;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 8443;
    QString storage;
    qint64 maxUploadBytes = DEFAULT_MAX_UPLOAD_BYTES;
    // Empty: anyone may upload, which the command line allows only with --open-uploads.
    QByteArray uploadKey;
    bool openUploads = false;
    // Empty: anyone may subscribe and count the clients. Otherwise the WebSocket and /users
    // need "Authorization: Bearer KEY".
    QByteArray viewKey;
    // The program re-executed to decode each upload; empty: this very program.
    QString decoderProgram;
    int maxAgeHours = 24;
    qint64 quotaBytes = 1024 * MIB;
    int maxConnections = 2048;
    int maxConnectionsPerAddress = 64;
    int uploadsPerMinute = 30;

    // Empty: the server runs alone. Otherwise the Redis (unix socket path or host:port) that
    // joins the instances of a group, and this instance's name among them (empty: made up).
    QString redis;
    QString redisInstance;
    static constexpr int MAX_INSTANCE_LENGTH = 64;

    // Timings in milliseconds; tests shorten them.
    int headTimeoutMs = 10000; // TLS handshake and request head together; the WebSocket handshake after it
    int idleTimeoutMs = 15000; // longest silence while a body arrives or an answer leaves
    int pingIntervalMs = 30000;
    // A connection still in its handshake or head makes way for a newcomer only after this long,
    // so a crowd reconnecting at once is not cut short by its own later members.
    int evictAfterMs = 1000;
    // A whole upload body (32 MiB at some 2 Mbit/s).
    int bodyTimeoutMs = 120000;
    // With plain, the one peer whose X-Real-IP and X-Forwarded-For are believed.
    QHostAddress trustedProxy = QHostAddress(QHostAddress::LocalHost);

    // Reads the command line (handles --help itself); false with a readable reason otherwise.
    bool parse(const QStringList& arguments, QString* error);
    // TLS 1.2 or later, with forward-secret AEAD suites only.
    static QSslConfiguration secureConfiguration(const QSslConfiguration& base);
    // Lifts the open-file limit to its hard maximum; returns the limit now in force.
    static int raiseOpenFileLimit();
};
