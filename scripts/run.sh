#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The demo: builds glimdeck and glimdeck-server alone into build-demo/, trusting a local
# authority in .demo/certs/ that no other build sees; starts the server on https://localhost:PORT
# and waits until it answers; then starts Glim-deck beside it. When either program ends, the demo
# ends and says why.
# Usage: run.sh [--port PORT] [-DSETTING=VALUE ...]   (settings go to CMake's configure step)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh
demo="$(pwd)/.demo"
certs="$demo/certs"
build="build-demo"
port=8443
# 15 s for the server to answer: it listens within a second when it can.
ANSWER_TENTHS=150

usage() {
    echo "usage: scripts/run.sh [--port PORT] [-DSETTING=VALUE ...]"
}
# One line on what went wrong, then a non-zero exit.
fail() {
    echo "Demo stopped: $*" >&2
    exit 1
}
last_line() {
    grep -v '^[[:space:]]*$' "$1" 2>/dev/null | tail -1 || true
}

case "${1:-}" in
--port)
    [ $# -ge 2 ] || { usage >&2; exit 2; }
    port=$2
    shift 2
    ;;
-h | --help)
    usage
    exit 0
    ;;
esac
if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1024 ] || [ "$port" -gt 65535 ]; then
    fail "the port must be a number from 1024 to 65535, not \"$port\""
fi

check_port_free() {
    local name
    port_is_free "$port" && return 0
    name=$(ss -Hltnp "sport = :$port" 2>/dev/null | grep -o 'users:(("[^"]*' | head -1 | cut -d'"' -f2 || true)
    fail "port $port is taken by ${name:-another program}; stop it, or run: scripts/run.sh --port 9443"
}

GLIMDECK_EXTRA_PACKAGES="${GLIMDECK_EXTRA_PACKAGES:-} curl iproute2" GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
check_port_free
mkdir -p "$demo"
ensure_certs "$certs"
# Only clients built with the demo's view key may follow its rooms.
[ -s "$demo/view.key" ] || (umask 077 && openssl rand -hex 16 >"$demo/view.key")

echo "Building glimdeck and glimdeck-server into $build/ ..."
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGLIMDECK_BUILD_TESTS=OFF "$@" \
    -DGLIMDECK_SERVER_HOST="localhost:$port" -DGLIMDECK_SERVER_CA="$certs/ca.pem" \
    -DGLIMDECK_VIEW_KEY_FILE="$demo/view.key" >"$demo/configure.log" 2>&1 ||
    { tail -20 "$demo/configure.log" >&2; fail "CMake could not configure $build/ (log: $demo/configure.log)"; }
cmake --build "$build" -j"$(nproc)" --target glimdeck glimdeck-server || fail "the build failed (above)"
server_program="$build/server/glimdeck-server"
client_program="$build/src/glimdeck"

# A first run has no room list yet: start with the demo room, so a picture sent to it shows.
rooms="${XDG_DATA_HOME:-$HOME/.local/share}/glimdeck/rooms.json"
if [ ! -e "$rooms" ]; then
    mkdir -p "$(dirname "$rooms")"
    printf '["demo"]' >"$rooms"
    echo "Room list created with the room \"demo\": $rooms"
fi

# Uploads carry a key of the demo's own, where the server asks for one.
server_options=(--view-key-file "$demo/view.key")
key_field=
server_help=$("$server_program" --help 2>/dev/null || true)
if grep -q -- '--upload-key-file' <<<"$server_help"; then
    [ -s "$demo/upload.key" ] || (umask 077 && openssl rand -hex 16 >"$demo/upload.key")
    server_options+=(--upload-key-file "$demo/upload.key")
    key_field="-F key=$(cat "$demo/upload.key") "
fi

server_pid=
client_pid=
# shellcheck disable=SC2317 # called by the trap
stop() {
    [ -z "$client_pid" ] || kill "$client_pid" 2>/dev/null || true
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 130' INT TERM

check_port_free
server_log="$demo/server.log"
"$server_program" --cert "$certs/server.pem" --key "$certs/server.key" --port "$port" --listen 127.0.0.1 \
    --storage "$demo/storage" "${server_options[@]}" > >(tee "$server_log") 2>&1 &
server_pid=$!

# Answering means: our process holds the port, and the certificate it shows is trusted by the
# authority the client is built with.
status=0
wait_answer "$server_pid" "$ANSWER_TENTHS" --cacert "$certs/ca.pem" -H "Authorization: Bearer $(cat "$demo/view.key")" \
    "https://localhost:$port/users" || status=$?
case $status in
1) fail "glimdeck-server did not answer on port $port within 15 s" ;;
2) sleep 0.2 && fail "glimdeck-server could not start: $(last_line "$server_log")" ;;
3) fail "glimdeck-server does not answer with a certificate of $certs/ca.pem: $answer_error" ;;
esac

if [ -n "${DISPLAY:-}" ]; then
    "$client_program" &
else
    echo "No display here (no desktop session): running under Xvfb with trayer as the notification area."
    scripts/with-display.sh "$client_program" &
fi
client_pid=$!

cat <<EOT

Glim-deck is running, with glimdeck-server on https://localhost:$port (log: $server_log).
Send a picture to the room "demo":
  upload page:  https://localhost:$port/   (the browser must trust $certs/ca.pem)
  or:           curl --cacert $certs/ca.pem ${key_field}-F room=demo \\
                     -F message=Bonjour -F picture=@/path/to/picture.png https://localhost:$port/upload
EOT
[ -z "$key_field" ] || echo "  upload key:   $(cat "$demo/upload.key")   (in $demo/upload.key; the upload page asks for it)"
echo "Ctrl-C stops both programs."
echo

status=0
wait -n -p ended "$server_pid" "$client_pid" || status=$?
if [ "$ended" = "$server_pid" ]; then
    server_pid=
    [ "$status" -le 128 ] || fail "glimdeck-server was stopped by signal $((status - 128))"
    fail "glimdeck-server ended (status $status): $(last_line "$server_log")"
fi
client_pid=
echo "Glim-deck ended (status $status); the demo stops the server."
exit "$status"
