#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Hostile and crowded clients against a glimdeck-server on loopback, for scripts/attack.sh.

Each mode prints its figures as one line and stops by itself: every loop is bounded in count and
in time. Clients are spread over source addresses 127.1.x.y, as a crowd of real users would be.
"""
import argparse
import asyncio
import base64
import json
import os
import socket
import ssl
import statistics
import struct
import sys
import threading
import time
import zlib

HOST = "127.0.0.1"


def source_address(index, per_address):
    n = index // per_address
    return f"127.1.{n // 250}.{n % 250 + 1}"


def tls_context(ca):
    return ssl.create_default_context(cafile=ca)


async def connect(args, source, tls=True, receive_buffer=0):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    sock.setblocking(False)
    try:
        sock.bind((source, 0))
        await asyncio.wait_for(asyncio.get_running_loop().sock_connect(sock, (HOST, args.port)), 10)
        if not tls:
            return sock
        return await asyncio.wait_for(
            asyncio.open_connection(sock=sock, ssl=args.tls, server_hostname="localhost", limit=1 << 16), 15)
    except BaseException:
        sock.close()
        raise


def frame(opcode, payload, length=None):
    # A zero mask leaves the payload as it is, which lets a huge payload be streamed.
    length = len(payload) if length is None else length
    head = bytes([0x80 | opcode])
    if length < 126:
        head += bytes([0x80 | length])
    elif length < 65536:
        head += bytes([0x80 | 126]) + struct.pack("!H", length)
    else:
        head += bytes([0x80 | 127]) + struct.pack("!Q", length)
    return head + b"\0\0\0\0" + payload


async def read_frame(reader):
    first, second = await reader.readexactly(2)
    length = second & 0x7F
    if length == 126:
        length = struct.unpack("!H", await reader.readexactly(2))[0]
    elif length == 127:
        length = struct.unpack("!Q", await reader.readexactly(8))[0]
    if length > 1 << 20:
        raise ValueError("frame too long")
    return first & 0x0F, await reader.readexactly(length)


async def open_websocket(args, source, rooms, receive_buffer=0):
    reader, writer = await connect(args, source, receive_buffer=receive_buffer)
    key = base64.b64encode(os.urandom(16)).decode()
    writer.write(f"GET / HTTP/1.1\r\nHost: localhost:{args.port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n".encode())
    head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 15)
    if not head.startswith(b"HTTP/1.1 101"):
        writer.close()
        raise ConnectionError(head.split(b"\r\n", 1)[0].decode(errors="replace"))
    if rooms:
        message = {"event": "room:changed", "data": {"rooms": rooms}}
        writer.write(frame(1, json.dumps(message).encode()))
    return reader, writer


async def open_with_retries(args, index, rooms, deadline, receive_buffer=0):
    """Opens a WebSocket as the client does, again after 1, 2, 4 ... s; (reader, writer, attempts) or None."""
    delay, attempts = 1.0, 0
    while time.monotonic() < deadline:
        attempts += 1
        try:
            reader, writer = await open_websocket(args, source_address(index, args.per_address), rooms,
                                                  receive_buffer)
            return reader, writer, attempts
        except (OSError, asyncio.TimeoutError, ssl.SSLError, ConnectionError, asyncio.IncompleteReadError):
            await asyncio.sleep(delay)
            delay = min(delay * 2, 30)
    return None


async def normal_request(args, source=HOST):
    """Milliseconds for a fresh TLS connection to answer GET /users, or None."""
    start = time.monotonic()
    try:
        reader, writer = await connect(args, source)
        writer.write(f"GET /users HTTP/1.1\r\nHost: localhost:{args.port}\r\nConnection: close\r\n\r\n".encode())
        answer = await asyncio.wait_for(reader.read(4096), 15)
        writer.close()
        return (time.monotonic() - start) * 1000 if answer.startswith(b"HTTP/1.1 200") else None
    except (OSError, asyncio.TimeoutError, ssl.SSLError):
        return None


async def hold_silent(args, index, deadline, counts):
    """Keeps one silent TCP connection open until the deadline, opening another a second after the
    server closes it (the attacker holds connections; a flood of new ones is another attack)."""
    while time.monotonic() < deadline:
        try:
            sock = await connect(args, source_address(index, args.per_address), tls=False)
        except (OSError, asyncio.TimeoutError):
            counts["refused"] += 1
            await asyncio.sleep(0.5)
            continue
        counts["open"] += 1
        try:
            await asyncio.wait_for(asyncio.get_running_loop().sock_recv(sock, 1), deadline - time.monotonic())
            counts["closed"] += 1
        except asyncio.TimeoutError:
            pass
        except OSError:
            counts["closed"] += 1
        counts["open"] -= 1
        sock.close()
        await asyncio.sleep(1)


async def silent(args):
    deadline = time.monotonic() + args.seconds
    counts = {"open": 0, "closed": 0, "refused": 0}
    holders = [asyncio.create_task(hold_silent(args, i, deadline, counts)) for i in range(args.clients)]
    await asyncio.sleep(min(5, args.seconds / 3))
    waits, most = [], 0
    while time.monotonic() < deadline - 2:
        most = max(most, counts["open"])
        waits.append(await normal_request(args))
        await asyncio.sleep(0.5)
    await asyncio.gather(*holders)
    answered = sorted(w for w in waits if w is not None)
    print(f"SILENT {args.clients} silent connections for {args.seconds} s (up to {most} open at once, "
          f"{counts['closed']} closed by the server, {counts['refused']} refused): normal client answered "
          f"{len(answered)} of {len(waits)} times, median {statistics.median(answered or [0]):.0f} ms, "
          f"max {max(answered or [0]):.0f} ms")
    return 0 if answered and len(answered) == len(waits) and answered[-1] < 1000 else 1


async def subscriber(args, index, state, quiet):
    opened = await open_with_retries(args, index, [args.room], time.monotonic() + 60, 4096 if quiet else 0)
    if not opened:
        state["failed"] += 1
        return
    reader, writer, _ = opened
    state["subscribed"] += 1
    wait = args.seconds
    try:
        if quiet:
            # Reads nothing until told to stop: whatever the server sends piles up on its side. Then
            # it reads what is left, to learn whether the server has closed it.
            await asyncio.wait_for(state["stop"].wait(), args.seconds)
            wait = 3
        while True:
            opcode, payload = await asyncio.wait_for(read_frame(reader), wait)
            if opcode == 9:
                writer.write(frame(10, payload))
            elif opcode == 1:
                state["photos"] += 1
            elif opcode == 8:
                state["closed"] += 1
                return
    except asyncio.TimeoutError:
        pass
    except (asyncio.IncompleteReadError, ConnectionError, OSError, ValueError):
        state["closed"] += 1
    finally:
        writer.close()


async def subscribers(args):
    """Subscribers in one room; READY once they are in, figures once a line arrives on stdin."""
    state = {"subscribed": 0, "failed": 0, "photos": 0, "closed": 0, "stop": asyncio.Event()}
    tasks = [asyncio.create_task(subscriber(args, i, state, args.quiet)) for i in range(args.clients)]
    while state["subscribed"] + state["failed"] < args.clients:
        await asyncio.sleep(0.1)
    await asyncio.sleep(1)
    print(f"READY {state['subscribed']}", flush=True)
    loop = asyncio.get_running_loop()
    await asyncio.wait_for(loop.run_in_executor(None, sys.stdin.readline), args.seconds)
    state["stop"].set()
    # Stragglers get a moment to read what was sent just before the line.
    await asyncio.wait(tasks, timeout=args.seconds if args.quiet else 2)
    still = state["subscribed"] - state["closed"]
    print(f"SUBSCRIBERS {state['subscribed']} of {args.clients} subscribed ({state['failed']} refused), "
          f"{state['photos']} photos received, {state['closed']} closed by the server, {still} still open")
    os._exit(0)


async def big_message(args):
    """One WebSocket message of args.megabytes MiB, streamed until the server stops it."""
    reader, writer = await open_websocket(args, HOST, None)
    total = args.megabytes << 20
    chunk = b"a" * (1 << 16)
    writer.write(frame(1, b"", length=total))
    sent, start, outcome = 0, time.monotonic(), "the server took it all"
    try:
        while sent < total and time.monotonic() - start < args.seconds:
            writer.write(chunk)
            await asyncio.wait_for(writer.drain(), 20)
            sent += len(chunk)
        opcode, payload = await asyncio.wait_for(read_frame(reader), 10)
        code = struct.unpack("!H", payload[:2])[0] if opcode == 8 and len(payload) >= 2 else None
        outcome = f"closed with code {code}" if code else f"answered with opcode {opcode}"
    except asyncio.TimeoutError:
        outcome = "no answer, the connection still open"
    except (ConnectionError, asyncio.IncompleteReadError, OSError) as error:
        outcome = f"connection ended ({type(error).__name__})"
    print(f"BIGMESSAGE {args.megabytes} MiB message: {sent >> 10} KiB sent in {time.monotonic() - start:.1f} s, "
          f"{outcome}")
    return 0


async def reconnect_one(args, index, deadline, results):
    opened = await open_with_retries(args, index, [args.room], deadline)
    if opened:
        results.append((time.monotonic(), opened[2], opened[1]))


async def reconnect(args):
    """args.clients clients opening their WebSocket at the same moment, with the client's back-off."""
    start = time.monotonic()
    results = []
    await asyncio.gather(*(reconnect_one(args, i, start + args.seconds, results) for i in range(args.clients)))
    first = sum(1 for _, attempts, _ in results if attempts == 1)
    last = max((when for when, _, _ in results), default=start) - start
    for _, _, writer in results:
        writer.close()
    print(f"RECONNECT {len(results)} of {args.clients} in {last * 1000:.0f} ms, {first} at the first attempt")
    return 0 if len(results) == args.clients else 1


async def ping_flood(args):
    """One WebSocket that never reads and sends pings flat out: the server must drop it."""
    reader, writer = await open_websocket(args, "127.4.1.1", None, receive_buffer=4096)
    ping = frame(9, b"p" * 125)
    sent, start, outcome = 0, time.monotonic(), "still open"
    try:
        while time.monotonic() - start < args.seconds:
            writer.write(ping * 64)
            await asyncio.wait_for(writer.drain(), args.seconds)
            sent += 64
    except asyncio.TimeoutError:
        outcome = "stalled, still open"
    except (ConnectionError, OSError):
        outcome = f"closed by the server after {time.monotonic() - start:.1f} s"
    writer.close()
    print(f"PINGFLOOD {sent} pings sent without reading: {outcome}")
    return 0 if outcome.startswith("closed") else 1


async def connect_or_count(args, source, state, counter, **options):
    """A TLS connection from source, or None with state[counter] counted."""
    try:
        return await connect(args, source, **options)
    except (OSError, asyncio.TimeoutError, ssl.SSLError) as error:
        state.setdefault("why", set()).add(f"{type(error).__name__} {error}"[:80])
        state[counter] += 1
        return None


async def bare_lf_one(args, source, state):
    connection = await connect_or_count(args, source, state, "refused")
    if not connection:
        return
    reader, writer = connection
    key = base64.b64encode(os.urandom(16)).decode()
    writer.write(f"GET / HTTP/1.1\nHost: localhost:{args.port}\nUpgrade: websocket\nConnection: Upgrade\n"
                 f"Sec-WebSocket-Key: {key}\nSec-WebSocket-Version: 13\n\n".encode())
    try:
        # A proxy in front may mend the line ends and pass on a proper opening: normalised.
        answer = await asyncio.wait_for(reader.read(4096), args.seconds)
        if answer.startswith(b"HTTP/1.1 101"):
            state["normalised"] += 1
            writer.close()
            return
        # Any other answer refuses the opening, even if the connection is kept for another request.
        if answer.startswith(b"HTTP/1.1 "):
            state["refused"] += 1
            writer.close()
            return
        while await asyncio.wait_for(reader.read(4096), args.seconds):
            pass
        state["closed"] += 1
    except asyncio.TimeoutError:
        state["held"] += 1
    except (OSError, ssl.SSLError):
        state["closed"] += 1
    writer.close()


async def bare_lf(args):
    """WebSocket openings whose heads end lines with a bare line feed, from one address."""
    state = {"closed": 0, "normalised": 0, "held": 0, "refused": 0}
    await asyncio.gather(*(bare_lf_one(args, "127.4.2.1", state) for _ in range(args.clients)))
    # A rate limit in front may refuse that address for as long as its burst takes to drain, not longer.
    start = time.monotonic()
    after = await normal_request(args, "127.4.2.1")
    while after is None and time.monotonic() - start < 5:
        await asyncio.sleep(0.5)
        after = await normal_request(args, "127.4.2.1")
    waited = time.monotonic() - start
    print(f"BARELF {args.clients} openings with bare LF heads: {state['closed']} closed by the server, "
          f"{state['normalised']} normalised into WebSockets, {state['held']} still held after {args.seconds:.0f} s, {state['refused']} refused; "
          f"that address afterwards: {f'answered within {waited:.1f} s' if after is not None else 'refused for 5 s'}")
    return 0 if state["held"] == 0 and after is not None else 1


async def slow_upload_one(args, source, state):
    connection = await connect_or_count(args, source, state, "refused")
    if not connection:
        return
    reader, writer = connection
    writer.write(f"POST /upload HTTP/1.1\r\nHost: localhost:{args.port}\r\nX-Upload-Key: {args.key}\r\n"
                 f"Content-Type: multipart/form-data; boundary=b\r\nContent-Length: {32 << 20}\r\n\r\n".encode())
    start = time.monotonic()
    try:
        while time.monotonic() - start < args.seconds:
            writer.write(b"-")
            await writer.drain()
            answer = await asyncio.wait_for(reader.read(64), 10)
            if answer:
                state[answer.split(b" ")[1].decode()] = state.get(answer.split(b" ")[1].decode(), 0) + 1
                break
            state["closed"] += 1
            break
    except asyncio.TimeoutError:
        state["held"] += 1
    except (OSError, ssl.SSLError, IndexError):
        state["closed"] += 1
    writer.close()


async def slow_upload(args):
    """Uploads that announce 32 MiB and send a byte every 10 s, all from one address."""
    state = {"closed": 0, "held": 0, "refused": 0}
    await asyncio.gather(*(slow_upload_one(args, "127.4.3.1", state) for _ in range(args.clients)))
    print(f"SLOWUPLOAD {args.clients} uploads of 32 MiB at a byte per 10 s: {state}")
    return 0


async def fetch(args, source, path, state):
    """GETs path over a fresh TLS connection, at args.rate bytes a second when set."""
    start = time.monotonic()
    connection = await connect_or_count(args, source, state, "failed", receive_buffer=16384 if args.rate else 0)
    if not connection:
        return
    reader, writer = connection
    writer.write(f"GET {path} HTTP/1.1\r\nHost: localhost:{args.port}\r\nConnection: close\r\n\r\n".encode())
    received, step, head, expected = 0, max(1, args.rate // 10), b"", None
    try:
        while time.monotonic() - start < args.seconds and received != expected:
            chunk = await asyncio.wait_for(reader.read(step if args.rate else 1 << 16), 30)
            if not chunk:
                state.setdefault("why", set()).add("closed")
                break
            received += len(chunk)
            if expected is None:
                head += chunk
                end = head.find(b"\r\n\r\n")
                if end >= 0 and not head.startswith(b"HTTP/1.1 200"):
                    state.setdefault("why", set()).add(head[:12].decode(errors="replace"))
                    break
                if end >= 0:
                    length = [line for line in head[:end].split(b"\r\n") if line.lower().startswith(b"content-length:")]
                    expected = end + 4 + int(length[0].split(b":")[1])
                    state["size"] = expected
            if args.rate:
                await asyncio.sleep(0.1)
    except (OSError, asyncio.TimeoutError, ssl.SSLError) as error:
        state.setdefault("why", set()).add(type(error).__name__)
    writer.close()
    if received == expected:
        state["whole"] += 1
    elif time.monotonic() - start >= args.seconds:
        state["reading"] += 1
    else:
        state["cut"] += 1


async def subscribe_member(args, index, state):
    """One member's subscription to args.room, counted in state; None when it never got in."""
    opened = await open_with_retries(args, index, [args.room], time.monotonic() + 60)
    if not opened:
        state["failed"] += 1
        return None
    state["subscribed"] += 1
    return opened[:2]


async def crowd_member(args, index, state):
    opened = await subscribe_member(args, index, state)
    if not opened:
        return
    reader, writer = opened
    deadline = time.monotonic() + args.seconds + 60  # the server's pings must not keep it waiting
    try:
        while True:
            opcode, payload = await asyncio.wait_for(read_frame(reader), max(0.1, deadline - time.monotonic()))
            if opcode == 9:
                writer.write(frame(10, payload))
            elif opcode == 1:
                path = json.loads(payload)["data"]["image"]
                state.setdefault("first", time.monotonic())
                await fetch(args, source_address(index, args.per_address), path, state)
                break
    except (asyncio.TimeoutError, asyncio.IncompleteReadError, ConnectionError, OSError, ValueError):
        state["failed"] += 1
    writer.close()


async def crowd(args):
    """Subscribers of one room that all fetch its next photo at once (at args.rate when set)."""
    state = {"subscribed": 0, "failed": 0, "whole": 0, "reading": 0, "cut": 0, "size": 0}
    tasks = [asyncio.create_task(crowd_member(args, i, state)) for i in range(args.clients)]
    while state["subscribed"] + state["failed"] < args.clients:
        await asyncio.sleep(0.1)
    print(f"READY {state['subscribed']}", flush=True)
    await asyncio.gather(*tasks)
    took = time.monotonic() - state.get("first", time.monotonic())
    print(f"CROWD {args.clients} subscribers fetching a {state['size'] >> 10} KiB photo"
          f"{f' at {args.rate >> 10} KiB/s' if args.rate else ''}: {state['whole']} got it whole, "
          f"{state['reading']} still reading at {args.seconds:.0f} s, {state['cut']} cut off, "
          f"{state['failed']} failed, in {took:.1f} s"
          f"{' (' + ', '.join(sorted(state['why'])) + ')' if state.get('why') else ''}")
    # Readers at full speed must all have the whole photo; slow ones may still be reading.
    return 0 if state["cut"] == 0 and state["failed"] == 0 and (args.rate or state["reading"] == 0) else 1


async def delivery_member(args, index, state):
    opened = await subscribe_member(args, index, state)
    if not opened:
        return
    reader, writer = opened
    try:
        while True:
            opcode, payload = await asyncio.wait_for(read_frame(reader), args.seconds + 60)
            if opcode == 9:
                writer.write(frame(10, payload))
            elif opcode == 1 and b"photo:broadcast" in payload:
                state["ms"].append((time.monotonic() - state["sent"]) * 1000)
                break
    except (asyncio.TimeoutError, asyncio.IncompleteReadError, ConnectionError, OSError, ValueError):
        pass
    writer.close()


async def delivery(args):
    """Subscribers of one room, then one photo uploaded: the time from its upload to each subscriber."""
    state = {"subscribed": 0, "failed": 0, "ms": [], "sent": 0}
    tasks = [asyncio.create_task(delivery_member(args, i, state)) for i in range(args.clients)]
    while state["subscribed"] + state["failed"] < args.clients:
        await asyncio.sleep(0.1)
    # The last openings' subscriptions reach their instance, and through Redis the others.
    await asyncio.sleep(2)
    state["sent"] = time.monotonic()
    status = await upload(args, open(args.picture, "rb").read(), args.room, b"Bonjour")
    await asyncio.wait(tasks, timeout=args.seconds)
    ms = sorted(state["ms"]) or [0]
    print(f"DELIVERY {len(state['ms'])} of {state['subscribed']} subscribers ({state['failed']} refused) had the "
          f"photo, upload {status}: median {statistics.median(ms):.0f} ms, "
          f"p99 {ms[min(len(ms) - 1, len(ms) * 99 // 100)]:.0f} ms")
    return 0 if state["subscribed"] == args.clients and len(state["ms"]) == args.clients else 1


def with_frame_size(jpeg, width, height):
    """The JPEG with its frame header (SOF0 or SOF2) claiming width x height."""
    at = 2
    while jpeg[at + 1] not in (0xC0, 0xC2):
        at += 2 + struct.unpack("!H", jpeg[at + 2:at + 4])[0]
    return jpeg[:at + 5] + struct.pack("!HH", height, width) + jpeg[at + 9:]


def png_chunk(kind, data):
    return struct.pack("!I", len(data)) + kind + data + struct.pack("!I", zlib.crc32(kind + data))


def png(width, height, extra=b""):
    pixels = zlib.compress(b"\0\0\0\0" * 1)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack("!IIBBBBB", width, height, 8, 6, 0, 0, 0)) + extra
            + png_chunk(b"IDAT", pixels) + png_chunk(b"IEND", b""))


def bombs(args):
    """Files of a few bytes that claim far more than they hold: (name, bytes)."""
    progressive = open(args.progressive, "rb").read()
    baseline = open(args.baseline, "rb").read()
    text = png_chunk(b"zTXt", b"comment\0\0" + zlib.compress(b"a" * (64 << 20), 9))
    return [("progressive JPEG 30000 x 30000", with_frame_size(progressive, 30000, 30000)),
            ("baseline JPEG 10000 x 10000", with_frame_size(baseline, 10000, 10000)),
            ("PNG 30000 x 30000", png(30000, 30000)),
            ("PNG with 64 MiB of compressed text", png(1, 1, text))]


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            return next((int(line.split()[1]) for line in status if line.startswith("VmHWM:")), 0)
    except OSError:
        return 0


def watch_children(pid, peaks, stop):
    """Records the peak resident memory of every child of pid (the decoders) until stop is set."""
    while not stop.is_set():
        try:
            with open(f"/proc/{pid}/task/{pid}/children") as children:
                for child in children.read().split():
                    peaks[child] = max(peaks.get(child, 0), peak_kib(child))
        except OSError:
            pass
        time.sleep(0.002)


async def upload(args, picture, room, message=b"bombe"):
    """The status code of one upload of picture to room."""
    boundary = "attackboundary"
    body = b"".join(f"--{boundary}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n".encode() + value
                    + b"\r\n" for name, value in (("room", room.encode()), ("message", message)))
    body += (f"--{boundary}\r\nContent-Disposition: form-data; name=\"picture\"; filename=\"b\"\r\n"
             f"Content-Type: application/octet-stream\r\n\r\n").encode() + picture + f"\r\n--{boundary}--\r\n".encode()
    reader, writer = await connect(args, "127.4.0.1")
    writer.write(f"POST /upload HTTP/1.1\r\nHost: localhost:{args.port}\r\nX-Upload-Key: {args.key}\r\n"
                 f"Content-Length: {len(body)}\r\nContent-Type: multipart/form-data; boundary={boundary}\r\n"
                 "Connection: close\r\n\r\n".encode() + body)
    answer = await asyncio.wait_for(reader.read(4096), 60)
    writer.close()
    return answer.split(b"\r\n", 1)[0].decode(errors="replace").replace("HTTP/1.1 ", "")


async def bomb(args):
    """Each bomb uploaded once while a subscriber listens: the answer, the server's and its decoders' peak."""
    reader, writer = await open_websocket(args, "127.4.0.2", [args.room])
    peaks, stop = {}, threading.Event()
    watcher = threading.Thread(target=watch_children, args=(args.server_pid, peaks, stop))
    watcher.start()
    failed = 0
    for name, picture in bombs(args):
        before = set(peaks)
        status = await upload(args, picture, args.room)
        worker = max((peaks[child] for child in set(peaks) - before), default=0)
        server = peak_kib(args.server_pid)
        print(f"BOMB {name} ({len(picture)} bytes): {status}; server peak {server // 1024} MiB, decoder peak "
              + (f"{worker // 1024} MiB" if worker else "none started"))
        failed += not status.startswith("4") or server > args.memory_goal_kib or worker > args.memory_goal_kib
    stop.set()
    watcher.join()
    broadcasts = 0
    try:
        while True:
            opcode, payload = await asyncio.wait_for(read_frame(reader), 1)
            broadcasts += opcode == 1 and b"photo:broadcast" in payload
    except (asyncio.TimeoutError, asyncio.IncompleteReadError):
        pass
    writer.close()
    print(f"BOMB broadcasts seen by a subscriber: {broadcasts}")
    return 1 if failed or broadcasts else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("mode", choices=["silent", "subscribers", "bigmessage", "reconnect", "pingflood", "barelf",
                                         "slowupload", "crowd", "bomb", "delivery"])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ca", required=True)
    parser.add_argument("--clients", type=int, default=1)
    parser.add_argument("--per-address", type=int, default=20)
    parser.add_argument("--room", default="attack")
    parser.add_argument("--quiet", action="store_true", help="subscribers that never read")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--megabytes", type=int, default=300)
    parser.add_argument("--key", default="", help="the upload key, for slowupload and bomb")
    parser.add_argument("--rate", type=int, default=0, help="bytes a second each crowd member reads; 0: at once")
    parser.add_argument("--server-pid", type=int, help="bomb: the server whose decoders are watched")
    parser.add_argument("--progressive", help="bomb: a small progressive JPEG to inflate")
    parser.add_argument("--baseline", help="bomb: a small baseline JPEG to inflate")
    parser.add_argument("--picture", help="delivery: the photo uploaded")
    parser.add_argument("--memory-goal-kib", type=int, default=64 * 1024)
    args = parser.parse_args()
    args.tls = tls_context(args.ca)
    modes = {"silent": silent, "subscribers": subscribers, "bigmessage": big_message, "reconnect": reconnect,
             "pingflood": ping_flood, "barelf": bare_lf, "slowupload": slow_upload, "crowd": crowd, "bomb": bomb,
             "delivery": delivery}
    sys.exit(asyncio.run(modes[args.mode](args)))


if __name__ == "__main__":
    main()
