# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2034 # answer_error and failed are for the scripts that source this
# Sourced by the scripts that start glimdeck-server or build against one: the test certificates,
# a free port, the wait until a server answers, and what the figure scripts (reliability.sh,
# attack.sh) share.

scripts_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ensure_certs DIR [DAYS]: the test authority and a localhost certificate in DIR (make-certs.sh),
# made again unless those there are good for another day.
ensure_certs() {
    openssl x509 -checkend 86400 -noout -in "$1/server.pem" >/dev/null 2>&1 || "$scripts_dir/make-certs.sh" "$@"
}

port_is_free() {
    [ -z "$(ss -Hltn "sport = :$1")" ]
}

# A port nothing listens on, below the range the system hands out for outgoing connections, so
# that one kept in a build stays free.
free_port() {
    local port
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 10000))
        port_is_free "$port" && break
    done
    echo "$port"
}

# The port a build in DIR was configured to reach on localhost; empty for none.
configured_port() {
    sed -n 's/^GLIMDECK_SERVER_HOST:STRING=localhost:\([0-9]*\)$/\1/p' "$1/CMakeCache.txt" 2>/dev/null || true
}

# The port for a build in DIR to reach: the one it has, kept while it is free and is not the
# demo's; otherwise a free one.
build_port() {
    local port
    port=$(configured_port "$1")
    if [ -z "$port" ] || [ "$port" = 8443 ] || ! port_is_free "$port"; then
        port=$(free_port)
    fi
    echo "$port"
}

# wait_answer PID TENTHS CURL-ARGUMENT...: waits until curl with the arguments gets a 200 and,
# unless PID is empty, PID itself listens; TENTHS tenths of a second at the most. A server that
# is starting refuses, is slow, or has nothing behind its proxy yet; any other failure of curl
# ends the wait, its message left in answer_error.
# Status: 0 answered, 1 no answer in time, 2 PID ended, 3 curl failed otherwise.
wait_answer() {
    local pid=$1 tenths=$2 tenth code status
    shift 2
    for ((tenth = 0; tenth < tenths; ++tenth)); do
        [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || return 2
        if [ -z "$pid" ] || grep -q "pid=$pid," <<<"$(ss -Hltnp 2>/dev/null)"; then
            read -r code status answer_error < <(curl -s -o /dev/null --max-time 2 "$@" \
                -w '%{http_code} %{exitcode} curl: (%{exitcode}) %{errormsg}\n' || true)
            [ "$code" != 200 ] || return 0
            [ "$status" = 0 ] || [ "$status" = 7 ] || [ "$status" = 28 ] || return 3
        fi
        sleep 0.1
    done
    return 1
}

# The figure scripts' verdict: set by miss, their exit status.
failed=0

# Ends a background helper and waits for it; an empty id is nothing to stop.
stop_pid() {
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

miss() {
    echo "GOAL MISSED: $*"
    failed=1
}

# Configures build-reliability/ for a server on localhost:$PORT that trusts an authority made
# here, then builds the targets named.
# shellcheck disable=SC2153 # PORT is the caller's
build_for_figures() {
    certs=$(pwd)/build-reliability/certs
    ensure_certs "$certs"
    cmake -S . -B build-reliability -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMDECK_BUILD_TESTS=ON \
        -DGLIMDECK_SERVER_HOST="localhost:$PORT" -DGLIMDECK_SERVER_CA="$certs/ca.pem" >/dev/null
    cmake --build build-reliability -j"$(nproc)" --target "$@"
}
