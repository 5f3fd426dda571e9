#!/usr/bin/env bash
# The demo: set-up, build both programs against a local authority, start glimdeck-server on
# https://localhost:8443 and Glim-deck beside it. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
demo="$repo/.demo"

mkdir -p "$demo"
[ -f "$demo/certs/server.pem" ] || scripts/make-certs.sh "$demo/certs"
scripts/setup.sh -DGLIMDECK_SERVER_HOST=localhost:8443 -DGLIMDECK_SERVER_CA="$demo/certs/ca.pem" "$@"

# A first run has no room list yet: start with the demo room, so a picture sent to it shows.
rooms="${XDG_DATA_HOME:-$HOME/.local/share}/glimdeck/rooms.json"
if [ ! -e "$rooms" ]; then
    mkdir -p "$(dirname "$rooms")"
    printf '["demo"]' > "$rooms"
    echo "Room list created with the room \"demo\": $rooms"
fi

server_pid=
client_pid=
stop() {
    [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null || true
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap stop EXIT INT TERM

build/server/glimdeck-server --cert "$demo/certs/server.pem" --key "$demo/certs/server.key" \
    --port 8443 --storage "$demo/storage" &
server_pid=$!

if [ -n "${DISPLAY:-}" ]; then
    build/src/glimdeck &
else
    echo "No display here (no desktop session): running under Xvfb with trayer as the notification area."
    scripts/with-display.sh build/src/glimdeck &
fi
client_pid=$!

cat <<EOT

Glim-deck is running. Send a picture to the room "demo":
  upload page:  https://localhost:8443/   (the browser must trust $demo/certs/ca.pem)
  or:           curl --cacert $demo/certs/ca.pem -F room=demo -F message=Bonjour \\
                     -F picture=@/path/to/picture.png https://localhost:8443/upload
Ctrl-C stops both programs.

EOT
wait "$client_pid"
