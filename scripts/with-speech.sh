#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a speech-dispatcher of its own, in a private runtime directory, and stops
# it after. Machines without a sound server (CI, containers) stall speech-dispatcher's default
# output after the first message spoken; libao falls back to a silent output instead.
# Without speech-dispatcher installed the command runs as it is (Qt then uses flite).
set -euo pipefail
if ! command -v speech-dispatcher >/dev/null; then
    exec "$@"
fi

runtime="$(mktemp -d)"
chmod 700 "$runtime"
mkdir -p "$runtime/speech-dispatcher" "$runtime/conf"
cp -r /etc/speech-dispatcher/. "$runtime/conf/"
sed -i 's/^#* *AudioOutputMethod .*/AudioOutputMethod "libao"/' "$runtime/conf/speechd.conf"
pid_file="$runtime/speech-dispatcher.pid"

stop_speech() {
    local pid
    pid="$(cat "$pid_file" 2>/dev/null || true)"
    if [ -n "$pid" ]; then
        pkill -TERM -P "$pid" 2>/dev/null || true
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 20); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$runtime"
}
trap stop_speech EXIT
trap 'exit 130' INT TERM

# No time-out: the tests come and go, and the service must not vanish between two of them.
speech-dispatcher --run-daemon --config-dir "$runtime/conf" --log-dir "$runtime" --log-level 1 --timeout 0 \
    --socket-path "$runtime/speech-dispatcher/speechd.sock" --pid-file "$pid_file" >/dev/null 2>&1
for _ in $(seq 50); do
    [ -S "$runtime/speech-dispatcher/speechd.sock" ] && break
    sleep 0.1
done
export XDG_RUNTIME_DIR="$runtime"
echo "with-speech: speech-dispatcher (pid $(cat "$pid_file" 2>/dev/null)) in $runtime" >&2

status=0
"$@" || status=$?
exit "$status"
