#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Attack figures for glimdeck-server, printed rather than timed as tests; loopback only:
#   silent      how long a normal client waits while an attacker holds 2000 silent connections
#   fan-out     peak memory under a 30 MiB message to 2000 subscribers, then one photo to them all
#   non-reading peak memory under subscribers that never read while photos keep coming
#   big         the outcome of a 300 MiB WebSocket message
#   reconnect   1000 clients reconnecting at once after a restart, 10 times; accepting afterwards
#   slowloris   60 s of slowhttptest's slow headers, with a normal client from another address
#   testssl     testssl.sh's verdicts on the server's TLS set-up
#   ping-flood  one WebSocket that never reads and sends pings flat out
#   bare-lf     64 WebSocket openings from one address whose heads end lines with a bare LF
#   slow-upload three uploads from one address, each announcing 32 MiB and sending a byte per 10 s
#   crowd       2000 subscribers of one room fetching its new 2 MiB photo at once, WebSockets open
#   slow-readers 200 subscribers reading that photo at 20 KiB/s
#   all         the last five at once
#   bomb        uploads of a few bytes claiming huge pictures: the answers, the server's and its
#               decoders' peaks (goal: 64 MiB each), and that no subscriber hears of them
#   group       one photo to 2000 subscribers behind nginx (the shipped group site), on one instance
#               and then on two joined through a private Redis: the median and the 99th percentile
#               of its upload-to-delivery time (goal: two within 1.5 times one); not among "all parts"
# Each part gets a fresh server, so each peak (VmHWM) is its own, and reports the longest a
# normal client waited for an answer meanwhile. Every part stops by itself.
# Exits non-zero when a goal is missed. --quick shortens every part; naming parts runs only those.
# GLIMDECK_ATTACK_LOG=FILE keeps the server's output there; GLIMDECK_ATTACK_SERVER_OPTIONS adds
# options to the server's command line.
# --server PATH attacks that glimdeck-server instead of building one (as the test command does);
# --readers N sets the crowd's size; --fans N the group's subscribers; --nginx puts the shipped
# nginx site in front, holding TLS on the port, with the server behind it on plain HTTP (the peaks
# are still the server's).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh

silent=2000 subscribers=2000 quiet=200 photos=300 megabytes=300 crowd=1000 rounds=10 slow_seconds=60
flood_seconds=20 openings=64 upload_seconds=40 readers=2000 slow_readers=200 read_seconds=60 fetch_seconds=180
fans=2000
# All at once, the crowd is the 400 of the first attacks: 2000 readers with their WebSockets and
# the slow readers' would pass the server's total of connections, and the rest be refused.
all_readers=400
testssl_scope=()
server=
nginx=
while [ $# -gt 0 ]; do
    case $1 in
    --quick)
        silent=500 subscribers=300 quiet=50 photos=60 crowd=300 rounds=3 slow_seconds=15
        flood_seconds=6 upload_seconds=12 readers=150 all_readers=150 slow_readers=60 read_seconds=8 fetch_seconds=60
        testssl_scope=(--protocols --std --fs)
        ;;
    --server) server=$2 && shift ;;
    --readers) readers=$2 all_readers=$2 && shift ;;
    --fans) fans=$2 && shift ;;
    --nginx) nginx=1 ;;
    *) break ;;
    esac
    shift
done
parts=("$@")
[ $# -gt 0 ] || parts=(silent fan-out non-reading big reconnect slowloris testssl ping-flood bare-lf slow-upload crowd
    slow-readers all bomb)

PORT=${PORT:-18443}
# The server's own port: behind nginx, the next one.
server_port=$((PORT + ${nginx:-0}))
MEMORY_GOAL_KIB=$((512 * 1024))
WAIT_GOAL_MS=1000

work=$(mktemp -d)
server_pid=
helper_pid=
probe_pid=
group_pids=()
nginx_pid=

# shellcheck disable=SC2317 # run by the trap
cleanup() {
    stop_pid "$probe_pid"
    stop_pid "$helper_pid"
    stop_pid "$server_pid"
    stop_group
    stop_pid "$nginx_pid"
    [ -z "${GLIMDECK_ATTACK_LOG:-}" ] || cp "$work/server.log" "$GLIMDECK_ATTACK_LOG"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

build() {
    if [ -n "$server" ]; then
        certs=$work/certs
        ensure_certs "$certs" >/dev/null 2>&1
    else
        GLIMDECK_EXTRA_PACKAGES="python3 curl iproute2 slowhttptest testssl.sh redis-server" GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
        build_for_figures glimdeck-server
        server=build-reliability/server/glimdeck-server
    fi
    # Thousands of sockets on both sides of loopback: each reader holds its WebSocket and its
    # download, and behind nginx both again between nginx and the server.
    ulimit -n "$(ulimit -Hn)"
    local needed=$(((readers + slow_readers) * (nginx ? 4 : 2) + 1000))
    if [ "$(ulimit -n)" -lt "$needed" ]; then
        echo "attack: $needed open files needed, the hard limit is $(ulimit -Hn) (raise it or lower --readers)" >&2
        exit 2
    fi
    [ -z "$nginx" ] || start_nginx
    convert -size 640x480 xc:'#3366cc' "$work/photo.png"
    # Noise keeps its size through the server's re-encoding: about 2 MiB stored.
    convert -size 2200x1300 xc: +noise Random -quality 90 "$work/big.jpg"
    openssl rand -hex 16 >"$work/upload.key"
}

attack() {
    python3 reliability/attack.py "$1" --port "$PORT" --ca "$certs/ca.pem" "${@:2}"
}

# The time in milliseconds a fresh client from SOURCE takes to get /users, or "fail"; with a
# second argument, then the milliseconds until its connection was accepted and until its TLS
# handshake ended.
normal_wait_ms() {
    { curl -s -o /dev/null -w '%{http_code} %{time_total} %{time_connect} %{time_appconnect}\n' --max-time 30 \
        --cacert "$certs/ca.pem" --interface "$1" --resolve "localhost:$PORT:127.0.0.1" "https://localhost:$PORT/users" ||
        true; } | awk -v detail="${2:-}" '$1 != 200 { print "fail"; next }
            { printf detail ? "%d %d %d\n" : "%d\n", $2 * 1000, $3 * 1000, $4 * 1000 }'
}

# The shipped site around nginx's test frame, on PORT with the test certificate, forwarding to
# the server's port; as many connections as the attacks open.
start_nginx() {
    mkdir -p "$work/nginx"
    sed -e '/listen \[::\]:443 ssl;/d' -e "s/listen 443 ssl;/listen 127.0.0.1:$PORT ssl;/" \
        -e "s|/etc/letsencrypt/live/photos.example.org/fullchain.pem|$certs/server.pem|" \
        -e "s|/etc/letsencrypt/live/photos.example.org/privkey.pem|$certs/server.key|" \
        -e "s|/var/lib/nginx/glimdeck-pictures|$work/nginx/pictures|" \
        -e "s/server 127.0.0.1:8080;/server 127.0.0.1:$server_port;/" deploy/nginx/glimdeck-server.conf >"$work/nginx/site.conf"
    sed -e "s/worker_connections 256;/worker_connections $(($(ulimit -n) / 2));/" \
        -e "s/^worker_processes .*/worker_processes auto;\nworker_rlimit_nofile $(ulimit -n);/" \
        -e "/@SITE@/{r $work/nginx/site.conf" -e 'd}' \
        tests/data/nginx-test.conf >"$work/nginx/nginx.conf"
    "$(PATH=$PATH:/usr/sbin command -v nginx)" -p "$work/nginx" -c nginx.conf -e error.log &
    nginx_pid=$!
}

start_server() {
    local tls=(--cert "$certs/server.pem" --key "$certs/server.key")
    [ -z "$nginx" ] || tls=(--no-tls)
    # shellcheck disable=SC2086 # the added options are words
    "$server" "${tls[@]}" --upload-key-file "$work/upload.key" \
        --port "$server_port" --listen 127.0.0.1 --storage "$work/storage" ${GLIMDECK_ATTACK_SERVER_OPTIONS:-} \
        >>"$work/server.log" 2>&1 &
    server_pid=$!
    wait_answer "$server_pid" 100 --cacert "$certs/ca.pem" --resolve "localhost:$PORT:127.0.0.1" \
        "https://localhost:$PORT/users" && return 0
    tail -5 "$work/server.log"
    echo "attack: glimdeck-server did not start" >&2
    exit 1
}

# Peak resident memory of the server, checks it still answers, and stops it.
finish_server() {
    local part=$1 peak wait cpu
    peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$server_pid/status")
    # Its processor time (user and system): on a shared machine, what it got of the load.
    cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.1f", ($14 + $15) / hz }' "/proc/$server_pid/stat")
    wait=$(normal_wait_ms 127.0.0.9)
    echo "MEMORY $part$([ -z "$nginx" ] || echo ' (behind nginx)'): server peak $((peak / 1024)) MiB" \
        "(goal <= $((MEMORY_GOAL_KIB / 1024)) MiB), $cpu s of processor, load average $(cut -d' ' -f1-3 /proc/loadavg);" \
        "afterwards a new client is answered: $([ "$wait" != fail ] && echo "yes, in $wait ms" || echo no)"
    [ "$peak" -le "$MEMORY_GOAL_KIB" ] || miss "$part: server memory"
    [ "$wait" != fail ] || miss "$part: the server no longer answers"
    stop_pid "$server_pid"
    server_pid=
}

# Uploads a picture (PICTURE, or the small one) to ROOM from SOURCE with the message read from
# FILE; prints the HTTP status.
upload() {
    curl -s -o /dev/null -w '%{http_code}' --max-time 60 --cacert "$certs/ca.pem" --interface "$1" \
        --resolve "localhost:$PORT:127.0.0.1" -F "key=<$work/upload.key" -F "room=$2" -F "message=<$3" \
        -F "picture=@${4:-$work/photo.png}" "https://localhost:$PORT/upload" || true
}

# A normal client asks for /users every half second from its own address while an attack runs.
start_probe() {
    : >"$work/probe.ms"
    (while [ ! -f "$work/probe.stop" ]; do
        normal_wait_ms 127.0.0.9 detail >>"$work/probe.ms"
        sleep 0.5
    done) &
    probe_pid=$!
}

# Prints the normal client's longest wait during PART; a wait over the goal or a refusal misses it.
finish_probe() {
    touch "$work/probe.stop"
    wait "$probe_pid" || true
    rm -f "$work/probe.stop"
    local longest
    longest=$(awk '$1 == "fail" { failed = 1 } $1 > most { most = $1 } END { print failed ? "fail" : most + 0 }' "$work/probe.ms")
    echo "WAIT $1: a normal client answered $(wc -l <"$work/probe.ms") times, longest $longest ms (goal <= $WAIT_GOAL_MS ms)" \
        "$(awk '$1 != "fail" && $1 > most { most = $1; line = $0 } END { split(line, f)
            printf "of which %d ms until accepted, %d more until encrypted", f[2], f[3] - f[2] }' "$work/probe.ms"),"\
        "load average $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$longest" = fail ] || [ "$longest" -gt "$WAIT_GOAL_MS" ]; then
        miss "$1: a normal client waited too long"
    fi
}

# Starts subscribers with the given options; returns once they are in.
start_subscribers() {
    rm -f "$work/helper.in" && mkfifo "$work/helper.in"
    attack subscribers --seconds 300 "$@" <"$work/helper.in" >"$work/helper.out" 2>"$work/helper.err" &
    helper_pid=$!
    exec 4>"$work/helper.in"
    local i
    for ((i = 0; i < 1200; ++i)); do
        grep -q '^READY' "$work/helper.out" && return 0
        kill -0 "$helper_pid" 2>/dev/null || break
        sleep 0.25
    done
    tail -5 "$work/helper.err"
    miss "the subscribers did not get in"
}

# Lets the subscribers count what they received, and prints it.
finish_subscribers() {
    echo >&4
    exec 4>&-
    wait "$helper_pid" || true
    helper_pid=
    grep '^SUBSCRIBERS' "$work/helper.out" || tail -5 "$work/helper.err"
}

run_silent() {
    echo "== silent: a normal client while $silent silent connections are held"
    start_server
    attack silent --clients "$silent" --per-address 20 --seconds 30 || miss "a normal client waited over $WAIT_GOAL_MS ms"
    finish_server silent
}

run_fan_out() {
    echo "== fan-out: a 30 MiB message to $subscribers subscribers, then one photo"
    start_server
    start_subscribers --clients "$subscribers" --per-address 20 --room fan
    head -c $((30 * 1024 * 1024)) /dev/zero | tr '\0' a >"$work/huge.txt"
    printf 'Bonjour %.0s' {1..50} >"$work/short.txt"
    echo "FANOUT 30 MiB message: HTTP $(upload 127.2.0.1 fan "$work/huge.txt"); one photo: HTTP $(upload 127.2.0.2 fan "$work/short.txt")"
    finish_subscribers
    finish_server fan-out
}

run_non_reading() {
    echo "== non-reading: $quiet subscribers that never read, $photos photos"
    start_server
    start_subscribers --clients "$quiet" --per-address 10 --room mute --quiet
    local i statuses=()
    printf 'Bonjour %.0s' {1..62} >"$work/long.txt"
    for ((i = 0; i < photos; ++i)); do
        statuses+=("$(upload "127.2.1.$((i % 50 + 1))" mute "$work/long.txt")")
    done
    echo "NONREADING uploads answered: $(printf '%s\n' "${statuses[@]}" | sort | uniq -c | awk '{ printf "%s HTTP %s; ", $1, $2 }')"
    finish_subscribers
    finish_server non-reading
}

run_big() {
    echo "== big: one $megabytes MiB WebSocket message"
    start_server
    attack bigmessage --megabytes "$megabytes" --seconds 120
    finish_server big
}

run_reconnect() {
    echo "== reconnect: $crowd clients at once after a restart, $rounds times"
    local round
    for ((round = 1; round <= rounds; ++round)); do
        stop_pid "$server_pid"
        start_server
        printf 'ROUND %2d: ' "$round"
        attack reconnect --clients "$crowd" --per-address 10 --room crowd --seconds 60 || miss "round $round: not every client got back in"
    done
    finish_server reconnect
}

run_slowloris() {
    echo "== slowloris: $slow_seconds s of slowhttptest, a normal client from another address"
    start_server
    slowhttptest -c 1000 -H -i 10 -r 200 -s 8192 -t GET -u "https://localhost:$PORT/users" -x 24 -p 3 \
        -l "$slow_seconds" >"$work/slow.log" 2>&1 &
    helper_pid=$!
    local waits=() deadline=$((SECONDS + slow_seconds))
    sleep 3
    while [ "$SECONDS" -lt "$deadline" ]; do
        waits+=("$(normal_wait_ms 127.3.0.1)")
        sleep 2
    done
    wait "$helper_pid" || true
    helper_pid=
    # slowhttptest's own probe comes from the attacking address, which the server holds back.
    tr '\r' '\n' <"$work/slow.log" | sed 's/\x1b\[[0-9;]*m//g' | grep -E 'service available|Exit status|closed:|connected:' | tail -4 |
        sed 's/^ */SLOWLORIS slowhttptest: /'
    echo "SLOWLORIS normal client (ms): ${waits[*]}"
    case " ${waits[*]} " in *" fail "*) miss "a normal client was not answered during the slowloris" ;; esac
    finish_server slowloris
}

run_testssl() {
    echo "== testssl: verdicts"
    start_server
    local command
    command=$(command -v testssl || command -v testssl.sh)
    "$command" --quiet --color 0 --warnings off --ip 127.0.0.1 --add-ca "$certs/ca.pem" "${testssl_scope[@]}" \
        "localhost:$PORT" >"$work/testssl.log" 2>&1 || true
    # The test authority publishes no revocation list: that verdict is about the certificate.
    grep -E 'offered|vulnerable|VULNERABLE|NOT ok|\(OK\)|Grade|Final Score' "$work/testssl.log" |
        sed -e 's/^ *NOT ok -- neither CRL/Certificate revocation: NOT ok -- neither CRL/' -e 's/^ */TESTSSL /' \
            -e 's/   */  /g'
    ! grep -E 'NOT ok|VULNERABLE' "$work/testssl.log" | grep -qv 'neither CRL nor OCSP' ||
        miss "testssl.sh found weaknesses"
    finish_server testssl
}

# Starts crowd (as attack's crowd mode, with ARGS) in the background; returns once it is in.
start_crowd() {
    local log=$work/crowd-$1.out
    shift
    attack crowd --room crowd "$@" >"$log" 2>&1 &
    crowd_pids+=($!)
    local i
    for ((i = 0; i < 1200; ++i)); do
        grep -qs '^READY' "$log" && return 0
        sleep 0.25
    done
    miss "the crowd did not get in"
}

# Waits for the crowds started, and prints their figures.
finish_crowds() {
    local pid
    for pid in "${crowd_pids[@]}"; do
        wait "$pid" || miss "a crowd member was cut off or failed"
    done
    crowd_pids=()
    local out
    for out in "$work"/crowd-*.out; do
        grep '^CROWD' "$out" || tail -3 "$out"
    done
    rm -f "$work"/crowd-*.out
}
crowd_pids=()

run_ping_flood() {
    echo "== ping-flood: one WebSocket that never reads pings flat out for $flood_seconds s"
    start_server
    start_probe
    attack pingflood --seconds "$flood_seconds" || miss "the ping flood was not stopped"
    finish_probe ping-flood
    finish_server ping-flood
}

run_bare_lf() {
    echo "== bare-lf: $openings WebSocket openings with bare LF heads from one address"
    start_server
    start_probe
    attack barelf --clients "$openings" --seconds 15 || miss "bare LF openings were held"
    finish_probe bare-lf
    finish_server bare-lf
}

run_slow_upload() {
    echo "== slow-upload: 3 uploads of 32 MiB from one address at a byte per 10 s, then a normal upload"
    start_server
    start_probe
    attack slowupload --clients 3 --key "$(cat "$work/upload.key")" --seconds "$upload_seconds" &
    helper_pid=$!
    sleep 2
    local status
    status=$(upload 127.0.0.10 other "$work/short.txt")
    echo "SLOWUPLOAD a normal upload from another address meanwhile: HTTP $status"
    [ "$status" = 200 ] || miss "slow uploads kept a normal upload out"
    wait "$helper_pid" || true
    helper_pid=
    finish_probe slow-upload
    finish_server slow-upload
}

run_crowd() {
    echo "== crowd: $readers subscribers fetch a new 2 MiB photo at once"
    start_server
    start_crowd fast --clients "$readers" --per-address 10 --seconds "$fetch_seconds"
    start_probe
    echo "CROWD photo: HTTP $(upload 127.2.0.1 crowd "$work/short.txt" "$work/big.jpg")"
    finish_crowds
    finish_probe crowd
    finish_server crowd
}

run_slow_readers() {
    echo "== slow-readers: $slow_readers subscribers read the 2 MiB photo at 20 KiB/s for $read_seconds s"
    start_server
    start_crowd slow --clients "$slow_readers" --per-address 5 --rate 20480 --seconds "$read_seconds"
    start_probe
    echo "SLOWREADERS photo: HTTP $(upload 127.2.0.1 crowd "$work/short.txt" "$work/big.jpg")"
    finish_crowds
    finish_probe slow-readers
    finish_server slow-readers
}

run_all() {
    echo "== all: ping-flood, bare-lf, slow-upload, crowd and slow-readers at once"
    start_server
    start_crowd fast --clients "$all_readers" --per-address 10 --seconds "$fetch_seconds"
    start_crowd slow --clients "$slow_readers" --per-address 5 --rate 20480 --seconds "$read_seconds"
    start_probe
    attack pingflood --seconds "$flood_seconds" &
    local flood=$!
    attack barelf --clients "$openings" --seconds 15 &
    local lf=$!
    attack slowupload --clients 3 --key "$(cat "$work/upload.key")" --seconds "$upload_seconds" &
    local slow=$!
    sleep 1
    echo "ALL photo: HTTP $(upload 127.2.0.1 crowd "$work/short.txt" "$work/big.jpg")"
    finish_crowds
    wait "$flood" || miss "the ping flood was not stopped"
    wait "$lf" || miss "bare LF openings were held"
    wait "$slow" || true
    finish_probe all
    finish_server all
}

run_bomb() {
    echo "== bomb: pictures that claim far more than they hold"
    start_server
    convert -size 16x16 xc:'#808080' -strip -interlace JPEG "$work/progressive.jpg"
    convert -size 16x16 xc:'#808080' -strip -interlace none "$work/baseline.jpg"
    attack bomb --key "$(cat "$work/upload.key")" --server-pid "$server_pid" --progressive "$work/progressive.jpg" --baseline "$work/baseline.jpg" \
        --room bomb || miss "a bomb was accepted, broadcast, or cost more than 64 MiB"
    finish_server bomb
}

# Stops what a group part started, the last first: nginx, the instances, Redis.
stop_group() {
    local i
    for ((i = ${#group_pids[@]} - 1; i >= 0; --i)); do
        stop_pid "${group_pids[i]}"
    done
    group_pids=()
}

# Starts a plain instance for nginx on PORT with OPTIONS; prints nothing, fails if it does not answer.
start_instance() {
    local port=$1
    shift
    "$server" --no-tls --port "$port" --listen 127.0.0.1 --upload-key-file "$work/upload.key" \
        --max-connections $((fans * 2)) "$@" >>"$work/server.log" 2>&1 &
    group_pids+=($!)
    wait_answer "$!" 100 "http://127.0.0.1:$port/users" || { tail -5 "$work/server.log" && miss "an instance did not start"; }
}

# nginx on $PORT with the shipped group site, its upstream the instances on PORTS.
start_group_nginx() {
    local dir=$work/nginx upstream=""
    rm -rf "$dir" && mkdir -p "$dir"
    for port in "$@"; do
        upstream+="    server 127.0.0.1:$port max_fails=1 fail_timeout=10s;\n"
    done
    sed -e '/listen \[::\]:443/d' -e "s/listen 443/listen 127.0.0.1:$PORT/" \
        -e "s|/etc/letsencrypt/live/photos.example.org/fullchain.pem|$certs/server.pem|" \
        -e "s|/etc/letsencrypt/live/photos.example.org/privkey.pem|$certs/server.key|" \
        -e '/server 127.0.0.1:8082/d' -e "s|^ *server 127.0.0.1:8081.*|$upstream|" \
        -e "s|/var/lib/nginx/glimdeck-pictures|$dir/pictures|" \
        deploy/nginx/glimdeck-group.conf >"$dir/site.conf"
    # Two connections (client and instance) for each subscriber.
    sed -e "/@SITE@/r $dir/site.conf" -e '/@SITE@/d' -e "s/worker_connections .*/worker_connections $((fans * 4));/" \
        -e "s/^worker_processes .*/&\nworker_rlimit_nofile $((fans * 8));/" tests/data/nginx-test.conf >"$dir/nginx.conf"
    nginx -p "$dir" -c nginx.conf -e error.log &
    group_pids+=($!)
    wait_answer "$!" 100 --cacert "$certs/ca.pem" --resolve "localhost:$PORT:127.0.0.1" "https://localhost:$PORT/users" ||
        { tail -5 "$dir/error.log" && miss "nginx did not start"; }
}

# One photo to $fans subscribers through nginx, for the set-up NAME; keeps "MEDIAN P99" in
# milliseconds in $work/NAME.ms.
time_delivery() {
    attack delivery --clients "$fans" --per-address 20 --room group --seconds 60 --picture "$work/photo.png" \
        --key "$(cat "$work/upload.key")" >"$work/delivery.out" || miss "$1: not every subscriber had the photo"
    sed "s/^DELIVERY/GROUP $1:/" "$work/delivery.out"
    sed -n 's/.*median \([0-9]*\) ms, p99 \([0-9]*\) ms.*/\1 \2/p' "$work/delivery.out" >"$work/$1.ms"
}

run_group() {
    echo "== group: one photo to $fans subscribers behind nginx, one instance, then two joined through Redis"
    local port1 port2
    port1=$(free_port)
    start_instance "$port1" --storage "$work/storage-one"
    start_group_nginx "$port1"
    time_delivery one
    stop_group
    redis-server --port 0 --unixsocket "$work/redis.sock" --save '' --appendonly no --daemonize no \
        >"$work/redis.log" 2>&1 &
    group_pids+=($!)
    # Each port is taken before the next is picked.
    port1=$(free_port)
    start_instance "$port1" --storage "$work/storage-two" --redis "$work/redis.sock" --redis-instance one
    port2=$(free_port)
    start_instance "$port2" --storage "$work/storage-two" --redis "$work/redis.sock" --redis-instance two
    start_group_nginx "$port1" "$port2"
    time_delivery two
    echo "GROUP two: subscribers of each instance: $(grep -o '"group" : [0-9]* clients' "$work/server.log" | tail -2 |
        awk '{ print $3 }' | paste -sd /)"
    stop_group
    # shellcheck disable=SC2046 # two numbers each
    set -- $(cat "$work/one.ms" "$work/two.ms")
    [ $# -eq 4 ] || { miss "group: no figures" && return; }
    local met=met
    awk -v a="$1" -v b="$2" -v c="$3" -v d="$4" 'BEGIN { exit !(c <= 1.5 * a && d <= 1.5 * b) }' || met="not met"
    echo "GROUP upload to delivery, median / p99: one instance $1 / $2 ms, two instances $3 / $4 ms;" \
        "goal within 1.5 times one instance: $met"
    [ "$met" = met ] || miss "group: two instances slower than 1.5 times one"
}

build
printf 'Bonjour %.0s' {1..50} >"$work/short.txt"
for part in "${parts[@]}"; do
    case $part in
    silent) run_silent ;;
    fan-out) run_fan_out ;;
    non-reading) run_non_reading ;;
    big) run_big ;;
    reconnect) run_reconnect ;;
    slowloris) run_slowloris ;;
    testssl) run_testssl ;;
    ping-flood) run_ping_flood ;;
    bare-lf) run_bare_lf ;;
    slow-upload) run_slow_upload ;;
    crowd) run_crowd ;;
    slow-readers) run_slow_readers ;;
    all) run_all ;;
    bomb) run_bomb ;;
    group) run_group ;;
    *) echo "attack: no part named $part" >&2 && exit 2 ;;
    esac
done
[ "$failed" -eq 0 ] && echo "All attack goals met." || echo "Some attack goals were missed."
exit "$failed"
