#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on a virtual display of its own, with trayer as the notification area, and
# stops both after. A display that is already set is not used: it may have no notification
# area, and the tests put full-screen windows on it. GLIMDECK_USE_DISPLAY=1 uses it anyway;
# GLIMDECK_XVFB_SCREEN sets the screen (default 1280x1024x24).
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ -n "${GLIMDECK_USE_DISPLAY:-}" ]; then
    exec "$@"
fi

work="$(mktemp -d)"
xvfb_pid=
trayer_pid=
cleanup() {
    stop_both
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "with-display: $*" >&2
    exit 1
}

# Xvfb picks a free display number itself, so that a server we did not start is never used.
start_xvfb() {
    rm -f "$work/displayfd"
    mkfifo "$work/displayfd"
    Xvfb -displayfd 3 -screen 0 "${GLIMDECK_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp \
        3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local number
    read -r -t 20 number <"$work/displayfd" || return 1
    export DISPLAY=":$number"
    xdpyinfo >/dev/null 2>&1 && kill -0 "$xvfb_pid" 2>/dev/null
}

start_trayer() {
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
        >"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    for _ in $(seq 100); do
        xdotool search --class trayer >/dev/null 2>&1 && break
        kill -0 "$trayer_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    # It owns the notification-area selection just after mapping its window.
    sleep 0.5
    xdotool search --class trayer >/dev/null 2>&1 && kill -0 "$trayer_pid" 2>/dev/null
}

stop_both() {
    [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    trayer_pid=
    xvfb_pid=
}

# A display number freed a moment ago can still be taken; a new server gets another one.
for attempt in 1 2 3; do
    if start_xvfb && start_trayer; then
        break
    fi
    echo "with-display: attempt $attempt failed on ${DISPLAY:-no display}:" \
        "$(cat "$work/xvfb.log" "$work/trayer.log" 2>/dev/null | tail -3)" >&2
    stop_both
    [ "$attempt" -lt 3 ] || fail "no display with a notification area"
    sleep 1
done
unset WAYLAND_DISPLAY
echo "with-display: Xvfb on $DISPLAY, trayer as notification area" >&2

# In the background, so that a TERM sent to this script reaches the command and the display
# is stopped after it, rather than waiting for a command that nobody asked to end.
"$@" &
command_pid=$!
trap 'kill -TERM "$command_pid" 2>/dev/null || true' INT TERM
while :; do
    status=0
    wait "$command_pid" || status=$?
    kill -0 "$command_pid" 2>/dev/null || break
done
kill -0 "$trayer_pid" 2>/dev/null || echo "with-display: trayer ended during the run: $(cat "$work/trayer.log")" >&2
exit "$status"
