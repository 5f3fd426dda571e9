# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the figure scripts (reliability.sh, attack.sh): what they share.

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
build_for_figures() {
    certs=$(pwd)/build-reliability/certs
    [ -f "$certs/server.pem" ] || scripts/make-certs.sh "$certs"
    cmake -S . -B build-reliability -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMDECK_BUILD_TESTS=ON \
        -DGLIMDECK_SERVER_HOST="localhost:$PORT" -DGLIMDECK_SERVER_CA="$certs/ca.pem" >/dev/null
    cmake --build build-reliability -j"$(nproc)" --target "$@"
}
