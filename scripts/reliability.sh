#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Reliability figures, printed rather than timed as tests:
#   load      20 clients, 1000 uploads at 50 per second; every photo once to every subscriber,
#             none to another room, and the server's resident memory before and after
#   restarts  the real client through 30 server restarts: back within its back-off delay each
#             time, its room list untouched
#   fuzz      a short libFuzzer run of the message handling, of the room list file reading and of
#             the server's request-head and multipart form parsing
# Exits non-zero when a goal is missed. --quick shortens every part.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

uploads=1000 restarts=30 fuzz_seconds=60
if [ "${1:-}" = --quick ]; then
    uploads=200 restarts=5 fuzz_seconds=10
fi

# Another port keeps runs from several checkouts apart.
PORT=${GLIMDECK_RELIABILITY_PORT:-18443}
RSS_GOAL_KIB=$((10 * 1024))
# TLS handshake, subscription and scheduling slack on top of the client's announced delay.
RECONNECT_SLACK_MS=1000
LOG_PATTERN='%{time boot} %{message}'

work=$(mktemp -d)
server_pid=
client_pid=
load_pid=

cleanup() {
    stop_pid "$load_pid"
    stop_pid "$client_pid"
    stop_pid "$server_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

build() {
    GLIMDECK_EXTRA_PACKAGES="curl iproute2" GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
    build_for_figures glimdeck glimdeck-server glimdeck-loadclients
}

# Lines in FILE matching PATTERN.
count_lines() {
    if [ -f "$1" ]; then grep -c -- "$2" "$1" || true; else echo 0; fi
}

# Waits until FILE holds more than COUNT lines matching PATTERN; fails after SECONDS.
wait_for_lines() {
    local file=$1 pattern=$2 count=$3 seconds=$4
    local deadline=$((SECONDS + seconds))
    while [ "$(count_lines "$file" "$pattern")" -le "$count" ]; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

start_server() {
    QT_MESSAGE_PATTERN=$LOG_PATTERN build-reliability/server/glimdeck-server \
        --cert "$certs/server.pem" --key "$certs/server.key" --port "$PORT" --listen 127.0.0.1 \
        --storage "$work/storage" --uploads-per-minute 100000 --open-uploads >>"$work/server.log" 2>&1 &
    server_pid=$!
    wait_answer "$server_pid" 100 --cacert "$certs/ca.pem" --resolve "localhost:$PORT:127.0.0.1" \
        "https://localhost:$PORT/users" || {
        tail -5 "$work/server.log"
        echo "reliability: glimdeck-server did not start" >&2
        exit 1
    }
}

# Resident memory of PID, once the last replies and frees have settled.
settled_rss_kib() {
    sleep 1
    awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

run_load() {
    echo "== load: 20 clients, $uploads uploads at 50 per second"
    start_server
    mkfifo "$work/load.in" "$work/load.out"
    build-reliability/reliability/glimdeck-loadclients --server "127.0.0.1:$PORT" --ca "$certs/ca.pem" \
        --clients 20 --uploads "$uploads" --rate 50 --pause <"$work/load.in" >"$work/load.out" \
        2>"$work/load.err" &
    load_pid=$!
    exec 4>"$work/load.in" 5<"$work/load.out"
    local line before=0 after=0
    while IFS= read -r line <&5; do
        case $line in
        "PAUSE before")
            before=$(settled_rss_kib "$server_pid")
            echo >&4
            ;;
        "PAUSE after")
            after=$(settled_rss_kib "$server_pid")
            echo >&4
            ;;
        *) echo "$line" ;;
        esac
    done
    exec 4>&- 5<&-
    local status=0
    wait "$load_pid" || status=$?
    load_pid=
    [ "$status" -eq 0 ] || { tail -20 "$work/load.err"; miss "load figures (see the LOAD lines above)"; }
    local diff=$((after - before))
    echo "LOAD server resident memory: before $before KiB, after $after KiB, difference $diff KiB (goal <= $RSS_GOAL_KIB)"
    [ "$before" -gt 0 ] && [ "$diff" -le "$RSS_GOAL_KIB" ] || miss "server memory after the load"
    stop_pid "$server_pid"
    server_pid=
}

# Boot-clock time, in milliseconds, of the last line of FILE matching PATTERN.
last_time_ms() {
    grep -- "$2" "$1" | tail -1 | awk '{ printf "%d\n", $1 * 1000 }'
}

# The delay of the last reconnection the client scheduled at or before TIME_MS.
pending_delay_ms() {
    awk -v until="$2" '/Tentative de reconnexion dans/ && $1 * 1000 <= until {
        for (i = 1; i < NF; ++i) if ($i == "dans") delay = $(i + 1) } END { print delay + 0 }' "$1"
}

run_restarts() {
    echo "== restarts: the client through $restarts server restarts"
    local home=$work/home
    export XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime
    mkdir -p "$XDG_DATA_HOME/glimdeck" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    local rooms=$XDG_DATA_HOME/glimdeck/rooms.json subscribed='Abonnement de .* : "r1", "r2"$'
    printf '["r1","r2"]' >"$rooms"
    cp "$rooms" "$work/rooms.expected"

    start_server
    QT_MESSAGE_PATTERN=$LOG_PATTERN scripts/with-display.sh build-reliability/src/glimdeck >"$work/client.log" 2>&1 &
    client_pid=$!
    wait_for_lines "$work/server.log" "$subscribed" 0 60 || {
        tail -20 "$work/client.log"
        miss "the client never subscribed"
        return
    }

    local i gaps=() late=0
    for ((i = 1; i <= restarts; ++i)); do
        local seen down_ms up_ms subscribed_ms delay_ms gap_ms
        seen=$(count_lines "$work/server.log" "$subscribed")
        stop_pid "$server_pid"
        down_ms=$((200 + RANDOM % 1301))
        sleep "$(awk -v ms="$down_ms" 'BEGIN { print ms / 1000 }')"
        start_server
        if ! wait_for_lines "$work/server.log" "$subscribed" "$seen" 45; then
            miss "restart $i: the client did not come back within 45 s"
            late=$((late + 1))
            continue
        fi
        up_ms=$(last_time_ms "$work/server.log" "écoute sur")
        subscribed_ms=$(last_time_ms "$work/server.log" "$subscribed")
        delay_ms=$(pending_delay_ms "$work/client.log" "$up_ms")
        gap_ms=$((subscribed_ms - up_ms))
        gaps+=("$gap_ms")
        printf 'RESTART %2d: down %4d ms, back %5d ms after the server (pending delay %5d ms)\n' \
            "$i" "$down_ms" "$gap_ms" "$delay_ms"
        if [ "$gap_ms" -gt $((delay_ms + RECONNECT_SLACK_MS)) ]; then
            miss "restart $i: back after $gap_ms ms, more than its delay $delay_ms ms"
            late=$((late + 1))
        fi
    done

    kill -0 "$client_pid" 2>/dev/null || miss "the client is no longer running"
    stop_pid "$client_pid"
    client_pid=
    stop_pid "$server_pid"
    server_pid=
    if [ ${#gaps[@]} -gt 0 ]; then
        printf '%s\n' "${gaps[@]}" | sort -n | awk -v n="$restarts" -v late="$late" '{ v[NR] = $1 }
            END { printf "RESTARTS %d of %d back within their delay; server up to subscription: min %d ms, median %d ms, max %d ms\n",
                  NR - late, n, v[1], v[int((NR + 1) / 2)], v[NR] }'
    fi
    if cmp -s "$rooms" "$work/rooms.expected"; then
        echo "RESTARTS room list unchanged: $(cat "$rooms")"
    else
        miss "the room list changed: $(cat "$rooms")"
    fi
}

run_fuzz() {
    echo "== fuzz: $fuzz_seconds s for each target"
    GLIMDECK_EXTRA_PACKAGES="clang libclang-rt-14-dev" GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMDECK_FUZZ=ON \
        -DGLIMDECK_BUILD_TESTS=OFF >/dev/null
    cmake --build build-fuzz -j"$(nproc)" --target fuzz_messages fuzz_roomfile fuzz_request
    local target corpus
    for target in messages roomfile request; do
        corpus=$work/corpus-$target
        cp -r "fuzz/corpus/$target" "$corpus"
        if build-fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -print_final_stats=1 "$corpus" \
            >"$work/fuzz-$target.log" 2>&1; then
            awk -v t="$target" '/stat::number_of_executed_units/ { runs = $2 } /stat::peak_rss_mb/ { rss = $2 }
                END { printf "FUZZ %s: %d runs, no crash, no sanitizer report, peak memory %d MB\n", t, runs, rss }' \
                "$work/fuzz-$target.log"
        else
            tail -30 "$work/fuzz-$target.log"
            miss "fuzz_$target found a fault"
        fi
    done
}

build
run_load
run_restarts
run_fuzz
[ "$failed" -eq 0 ] && echo "All reliability goals met." || echo "Some reliability goals were missed."
exit "$failed"
