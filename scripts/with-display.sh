#!/usr/bin/env bash
# Runs a command on a virtual display of its own, with trayer as the notification area, and
# stops both after. A display that is already set is not used: it may have no notification
# area, and the tests put full-screen windows on it. GLIMDECK_USE_DISPLAY=1 uses it anyway.
set -euo pipefail
if [ -n "${DISPLAY:-}" ] && [ -n "${GLIMDECK_USE_DISPLAY:-}" ]; then
    exec "$@"
fi

work="$(mktemp -d)"
xvfb_pid=
trayer_pid=
cleanup() {
    [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
    echo "with-display: $*" >&2
    exit 1
}

# Xvfb picks a free display number itself, so that a server we did not start is never used.
mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 number <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$number"
unset WAYLAND_DISPLAY

trayer --edge top --align right --widthtype request --height 24 --transparent false \
    >"$work/trayer.log" 2>&1 &
trayer_pid=$!
for _ in $(seq 100); do
    xdotool search --class trayer >/dev/null 2>&1 && break
    kill -0 "$trayer_pid" 2>/dev/null || fail "trayer ended: $(cat "$work/trayer.log")"
    sleep 0.1
done
xdotool search --class trayer >/dev/null 2>&1 || fail "trayer showed no window on $DISPLAY"
# It owns the notification-area selection just after mapping its window.
sleep 0.5
echo "with-display: Xvfb on $DISPLAY, trayer as notification area" >&2

status=0
"$@" || status=$?
kill -0 "$trayer_pid" 2>/dev/null || echo "with-display: trayer ended during the run: $(cat "$work/trayer.log")" >&2
exit "$status"
