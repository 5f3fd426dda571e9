// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The bounds the server holds every peer to, and the defaults of the options that bound it, each
// named once here. Together they make the memory figure in the README.
namespace ServerLimits {

constexpr qint64 KIB = 1024;
constexpr qint64 MIB = KIB * KIB;
constexpr qint64 MINUTE_MS = 60 * 1000;

// Options' defaults; each is also the default its --help names.
// Largest upload: a phone's full-size photo, with room to spare.
constexpr qint64 DEFAULT_MAX_UPLOAD_BYTES = 32 * MIB;
// A room of 2000 fetching its new photo holds 4000 connections at once (each reader's
// WebSocket and its download), with room for everyone else; some 76 KiB each under that
// crowd, as measured, keeps them within the memory figure in the README.
constexpr int DEFAULT_MAX_CONNECTIONS = 4224;
// A household or an office behind one address fits; one peer cannot hold the whole server.
constexpr int DEFAULT_MAX_CONNECTIONS_PER_ADDRESS = 64;
// One upload every two seconds from an address: a person sends far fewer.
constexpr int DEFAULT_UPLOADS_PER_MINUTE = 30;
// A day: photos are for the moment, and late joiners still see the day's.
constexpr int DEFAULT_MAX_AGE_HOURS = 24;
// Disk the pictures take at most; the oldest go first.
constexpr qint64 DEFAULT_QUOTA_MIB = 1024;
// TLS handshake and request head together; the WebSocket handshake after it.
constexpr int DEFAULT_HEAD_TIMEOUT_MS = 10000;
// Longest silence while a body arrives or an answer leaves.
constexpr int DEFAULT_IDLE_TIMEOUT_MS = 15000;
// Our pings find dead WebSocket peers within a minute.
constexpr int DEFAULT_PING_INTERVAL_MS = 30000;
// A connection still in its handshake or head makes way for a newcomer only after this long,
// so a crowd reconnecting at once is not cut short by its own later members.
constexpr int DEFAULT_EVICT_AFTER_MS = 1000;
// A whole upload body: 32 MiB at some 2 Mbit/s.
constexpr int DEFAULT_BODY_TIMEOUT_MS = 120000;

// What the options may be set to: beyond these a typo, not a wish.
constexpr qint64 MIN_UPLOAD_BYTES = KIB;
constexpr qint64 MAX_UPLOAD_BYTES = 1024 * MIB;
constexpr int MAX_AGE_HOURS = 24 * 365;
constexpr qint64 MAX_QUOTA_MIB = 1024 * 1024;
// Connections, per-address connections and uploads per minute.
constexpr int MAX_COUNT_OPTION = 1000000;
// A key file holds one line; more is not a key file.
constexpr qint64 MAX_KEY_FILE_BYTES = 4096;
// An instance's name travels in every message of its group.
constexpr int MAX_INSTANCE_LENGTH = 64;
// Descriptors kept back from the connection limit for pictures, the log and the listener.
constexpr int RESERVED_DESCRIPTORS = 64;

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

// A subscription of ClientMessages::MAX_ROOMS rooms fits with room to spare.
constexpr int MAX_INCOMING_MESSAGE_BYTES = 4096;
// Rooms named in one log line; the rest are counted.
constexpr int MAX_LOGGED_ROOMS = 5;
// A client catches up on this many photos of a room at most, so no more are kept.
constexpr int MAX_MISSED_PER_ROOM = 20;
// The WebSocket server is handed each connection whose head we have read, and we take each at
// once: Qt's 30 would turn a crowd away.
constexpr int MAX_WEBSOCKETS_PENDING = 1 << 20;

// A request head: its line and headers; browsers send a few KiB.
constexpr int MAX_HEAD_BYTES = 16 * KIB;
// What one connection reads ahead of its requests: a head fits, and a client that sends faster
// than it is answered waits in the kernel, not here.
constexpr qint64 HTTP_READ_BUFFER_BYTES = 4 * MAX_HEAD_BYTES;
// A refused body read past so that its sender sees the answer; past this it is cut.
constexpr qint64 MAX_DRAIN_BYTES = 256 * MIB;

// The start of a form that must hold its first field, the key, whole.
constexpr qint64 FORM_LEAD_BYTES = 8 * KIB;
constexpr int MAX_FORM_PARTS = 16;

// Pictures are scaled to fit a 4K screen, the largest a client shows them on.
constexpr int MAX_PICTURE_WIDTH = 3840;
constexpr int MAX_PICTURE_HEIGHT = 2160;
// Largest decoded picture, in MiB; bigger ones are refused before their pixels are allocated.
constexpr int DECODE_LIMIT_MIB = 64;
// Pictures kept at most, whatever their size, so the account itself stays small.
constexpr int MAX_STORED_PICTURES = 65536;

// Every format: the pixels a picture may claim (a 100-megapixel camera still passes).
constexpr qint64 MAX_PIXELS = 100 * 1000 * 1000;
// A JPEG in several scans (progressive, or one scan per colour) is held whole as DCT
// coefficients while it decodes, two bytes for each sample of each component.
constexpr qint64 MAX_COEFFICIENT_BYTES = 48 * MIB;
// Each scan walks every coefficient again; cameras write up to about a dozen.
constexpr int MAX_JPEG_SCANS = 64;
// Y, Cb, Cr and, in CMYK, K.
constexpr int MAX_JPEG_COMPONENTS = 4;
// A PNG is decoded whole, four bytes a pixel, eight at 16 bits a channel.
constexpr qint64 MAX_PNG_PIXEL_BYTES = 64 * MIB;
// Compressed text and colour-profile chunks are inflated by the decoder: about a thousand
// times their size at worst.
constexpr qint64 MAX_PNG_COMPRESSED_METADATA_BYTES = 16 * KIB;
constexpr qint64 MAX_PNG_METADATA_BYTES = 1 * MIB;

// The decoder child's address space: the program's own mappings (about 90 MiB of libraries and
// locale data, nearly all shared and not resident) plus the largest legitimate decode: the
// upload, 64 MiB of pixels, a converted copy, the scaled one and the encoded result.
constexpr qint64 DECODER_MEMORY_BYTES = 512 * MIB;
// A decode that takes longer is a bomb, not a photo.
constexpr int DECODER_CPU_SECONDS = 20;
// A 3840 x 2160 PNG takes some 5 s to encode. The wall-clock deadline allows for a busy machine;
// the child is killed beyond.
constexpr int DECODER_DEADLINE_MS = 60000;
// The child's answer: the encoded picture, far below this.
constexpr qint64 MAX_DECODER_ANSWER_BYTES = 96 * MIB;
// An upload goes to the child a chunk at a time, as its pipe takes it.
constexpr qint64 DECODER_WRITE_CHUNK_BYTES = 256 * KIB;

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
// How soon the listener accepts again after failing to, as when every open file is in use.
constexpr int ACCEPT_RETRY_MS = 1000;

// Connections still in their TLS handshake or request head, at most as many per address as
// that address may hold: older ones make way for newcomers. A room's crowd fetching its new
// photo at once fits whole, its handshakes run together, so a newcomer waits behind none.
constexpr int MAX_WAITING = 4096;
// The oldest waiting connections looked at for one to make way, so that a newcomer costs
// little even when all of them are busy.
constexpr int EVICTION_CANDIDATES = 32;
// A waiting connection whose peer has spoken is in its handshake: it makes way only after
// this many times the wait of a silent one, and only while it waits on its peer.
constexpr int SPOKEN_EVICTION_FACTOR = 5;

// Upload bodies held at once, as a multiple of the largest upload.
constexpr int UPLOADS_IN_FLIGHT = 3;
// Characters of an upload's message, which every client of the room shows over the photo.
constexpr int MAX_MESSAGE_LENGTH = 500;

// A kept HTTP connection serves at most this many requests, one at a time.
constexpr int MAX_REQUESTS_PER_CONNECTION = 100;

// Addresses whose connections and uploads are counted; past it the idle ones are forgotten.
constexpr int MAX_TRACKED_ADDRESSES = 100000;

// A photo's envelope between instances is far smaller: a longer one is not ours.
constexpr int MAX_ENVELOPE_BYTES = 8192;
// Redis commands awaiting their reply at most: past it, new ones fail at once.
constexpr int MAX_REDIS_PENDING = 20000;

// Characters of a peer's text quoted in a log line, so no client can flood the log.
constexpr int MAX_LOGGED_TEXT_LENGTH = 80;
// Bytes of a Redis channel's name quoted in a log line.
constexpr int MAX_LOGGED_CHANNEL_BYTES = 64;
// Log lines of one kind written per minute; the rest are counted and the count said with the next.
constexpr int LOG_LINES_PER_MINUTE = 20;

} // namespace ServerLimits
