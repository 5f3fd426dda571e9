#!/usr/bin/env bash
# Runs a command with a display that has a notification area. Where none is set (a server, CI),
# starts Xvfb with trayer as the tray host for the command's duration and stops them after.
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ -z "${GLIMDECK_FORCE_XVFB:-}" ]; then
    exec "$@"
fi

display=":$(( (RANDOM % 400) + 100 ))"
while [ -e "/tmp/.X11-unix/X${display#:}" ] || [ -e "/tmp/.X${display#:}-lock" ]; do
    display=":$(( ${display#:} + 1 ))"
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trayer_pid=
cleanup() {
    [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
trayer --edge top --align right --widthtype request --height 24 --transparent false >/dev/null 2>&1 &
trayer_pid=$!
# The tray host owns the selection once it is ready.
for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 || true
    if xdotool search --class trayer >/dev/null 2>&1; then break; fi
    sleep 0.1
done
sleep 0.5
"$@"
