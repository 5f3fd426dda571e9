#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up, build, then every test through CTest (tray tests get a virtual display and tray host,
# speech tests a speech-dispatcher of their own, stopped after).
# The build trusts an authority made here, so that the end-to-end tests can run the real
# programs against each other; no key is kept in the repository. Its server is on a port of its
# own, found free here and kept while it stays free, so that the tests do not meet the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
# systemd for systemd-analyze, which rates the server's unit.
export GLIMDECK_EXTRA_PACKAGES="${GLIMDECK_EXTRA_PACKAGES:-} iproute2 lintian appstream desktop-file-utils wmctrl x11-xserver-utils libglib2.0-bin gsettings-desktop-schemas chromium curl systemd redis-server"
GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
certs="$(pwd)/build/e2e-certs"
openssl x509 -checkend 86400 -noout -in "$certs/server.pem" >/dev/null 2>&1 || scripts/make-certs.sh "$certs" 30
# The build follows its server's rooms with a view key, as a real deployment does.
[ -s "$certs/view.key" ] || (umask 077 && openssl rand -hex 16 >"$certs/view.key")

port_is_free() {
    [ -z "$(ss -Hltn "sport = :$1")" ]
}
port=$(sed -n 's/^GLIMDECK_SERVER_HOST:STRING=localhost:\([0-9]*\)$/\1/p' build/CMakeCache.txt 2>/dev/null || true)
if [ -z "$port" ] || [ "$port" = 8443 ] || ! port_is_free "$port"; then
    for _ in $(seq 100); do
        port=$((20000 + RANDOM % 10000))
        port_is_free "$port" && break
    done
fi
scripts/setup.sh -DGLIMDECK_SERVER_HOST="localhost:$port" -DGLIMDECK_SERVER_CA="$certs/ca.pem" \
    -DGLIMDECK_VIEW_KEY_FILE="$certs/view.key" "$@"
cd build
exec ../scripts/with-display.sh ../scripts/with-speech.sh ctest --output-on-failure --timeout 900
