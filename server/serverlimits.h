// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The bounds the server holds every peer to, each named once here. Together with the options'
// connection and upload limits they make the memory figure in the README.
namespace ServerLimits {

constexpr qint64 KIB = 1024;

// A WebSocket with more than this still unsent (plaintext waiting and, over TLS, what is
// encrypted but not yet taken by the kernel) is not reading: it is dropped. Twenty broadcasts or more.
constexpr qint64 MAX_UNSENT_BYTES = 32 * KIB;
// Photos a client missed go out while less than this waits unsent: one more (a few KiB at most)
// and a live broadcast still leave it below MAX_UNSENT_BYTES.
constexpr qint64 MISSED_SENT_BELOW_UNSENT_BYTES = MAX_UNSENT_BYTES / 2;
// What a WebSocket's socket reads ahead; also bounds the pongs Qt queues for one batch of pings.
constexpr qint64 WEBSOCKET_READ_BUFFER_BYTES = 16 * KIB;
// Reads from one WebSocket client between two of our pings: a client pings every 15 s, and
// subscribes now and then; a flood of pings or messages passes this at once.
constexpr int MAX_CLIENT_READS_PER_PING = 200;

// The start of a form that must hold its first field, the key, whole.
constexpr qint64 FORM_LEAD_BYTES = 8 * KIB;
constexpr int MAX_FORM_PARTS = 16;

// Pictures go out in chunks of this size, the next once the socket has sent the last.
constexpr qint64 SEND_CHUNK_BYTES = 16 * KIB;
// Distinct pictures held in memory at once for their readers; readers of a picture share one copy.
constexpr qint64 MAX_SENDING_PICTURE_BYTES = 32 * KIB * KIB;

// Connections the kernel completes and holds for us to accept (capped by net.core.somaxconn). Qt's
// 50 overflowed when a room's crowd opened at once: the kernel then dropped newcomers' openings,
// and each waited a second or more for its retry, a normal client among them.
constexpr int LISTEN_BACKLOG = 4096;
// Connections accepted but not yet taken, handed out in turns by address; as many again as the
// kernel holds, each an open file beside the connections taken.
constexpr int MAX_ACCEPTED_WAITING = LISTEN_BACKLOG;
// Connections taken from the listener in one turn of the event loop. Taking a crowd's thousands
// in one go held every handshake under way past its deadline, and the crowd's members pushed
// each other out before any got in.
constexpr int CONNECTIONS_TAKEN_PER_TURN = 64;
// How soon the listener is looked at again while every waiting place is taken.
constexpr int WAITING_FULL_RETRY_MS = 10;

// A kept HTTP connection serves at most this many requests, one at a time.
constexpr int MAX_REQUESTS_PER_CONNECTION = 100;

// Log lines of one kind written per minute; the rest are counted and the count said with the next.
constexpr int LOG_LINES_PER_MINUTE = 20;

} // namespace ServerLimits
