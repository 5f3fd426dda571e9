#!/usr/bin/env bash
# Runs a command with a private session bus of its own, and stops the bus after. The command
# finds it in DBUS_SESSION_BUS_ADDRESS and starts there the services it plays (python3-dbusmock);
# nothing of the user's own session bus is touched.
set -euo pipefail
work="$(mktemp -d)"
daemon=
cleanup() {
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

dbus-daemon --session --address="unix:dir=$work" --nofork --print-address=3 3>"$work/address" \
    2>"$work/daemon.log" &
daemon=$!
for _ in $(seq 100); do
    [ -s "$work/address" ] && break
    sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/address")"
export DBUS_SESSION_BUS_ADDRESS
"$@"
