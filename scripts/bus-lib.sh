# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by with-session-bus.sh and with-system-bus.sh: a folder of their own in work, and the
# processes they start in pids, stopped when the script ends.
work="$(mktemp -d)"
pids=()
cleanup() {
    [ "${#pids[@]}" -gt 0 ] && kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# start_bus WORK DAEMON-OPTION...: starts a dbus-daemon of its own with the options, its pid added
# to the caller's pids array, and waits until it gives its address, left in bus_address.
start_bus() {
    local work=$1
    shift
    dbus-daemon "$@" --nofork --print-address=3 3>"$work/address" 2>"$work/daemon.log" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/address" ] && break
        sleep 0.1
    done
    bus_address="$(head -n1 "$work/address")"
}
