// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serverlimits.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

// Everything the server is told at start, with the defaults that bound its memory (see the
// README's server section for how they add up).
struct ServerOptions
{

    QSslConfiguration tls;
    // Plain HTTP and WebSocket behind a reverse proxy on the same machine.
    bool plain = false;
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 8443;
    QString storage;
    qint64 maxUploadBytes = ServerLimits::DEFAULT_MAX_UPLOAD_BYTES;
    // Empty: anyone may upload, which the command line allows only with --open-uploads.
    QByteArray uploadKey;
    bool openUploads = false;
    // Empty: anyone may subscribe and count the clients. Otherwise the WebSocket and /users
    // need "Authorization: Bearer KEY".
    QByteArray viewKey;
    // The program re-executed to decode each upload; empty: this very program.
    QString decoderProgram;
    int maxAgeHours = ServerLimits::DEFAULT_MAX_AGE_HOURS;
    qint64 quotaBytes = ServerLimits::DEFAULT_QUOTA_MIB * ServerLimits::MIB;
    int maxConnections = ServerLimits::DEFAULT_MAX_CONNECTIONS;
    int maxConnectionsPerAddress = ServerLimits::DEFAULT_MAX_CONNECTIONS_PER_ADDRESS;
    // Connections accepted but not yet taken; fitted to the open files the taken ones leave.
    int maxAcceptedWaiting = ServerLimits::MAX_ACCEPTED_WAITING;
    int uploadsPerMinute = ServerLimits::DEFAULT_UPLOADS_PER_MINUTE;

    // Empty: the server runs alone. Otherwise the Redis (unix socket path or host:port) that
    // joins the instances of a group, and this instance's name among them (empty: made up).
    QString redis;
    QString redisInstance;

    // Timings in milliseconds; tests shorten them.
    int headTimeoutMs = ServerLimits::DEFAULT_HEAD_TIMEOUT_MS;
    int idleTimeoutMs = ServerLimits::DEFAULT_IDLE_TIMEOUT_MS;
    int pingIntervalMs = ServerLimits::DEFAULT_PING_INTERVAL_MS;
    int evictAfterMs = ServerLimits::DEFAULT_EVICT_AFTER_MS;
    int bodyTimeoutMs = ServerLimits::DEFAULT_BODY_TIMEOUT_MS;
    // With plain, the one peer whose X-Real-IP and X-Forwarded-For are believed.
    QHostAddress trustedProxy = QHostAddress(QHostAddress::LocalHost);

    // Reads the command line (handles --help itself); false with a readable reason otherwise.
    bool parse(const QStringList& arguments, QString* error);
    // TLS 1.2 or later, with forward-secret AEAD suites only.
    static QSslConfiguration secureConfiguration(const QSslConfiguration& base);
    // Lifts the open-file limit to its hard maximum; returns the limit now in force.
    static int raiseOpenFileLimit();
};
