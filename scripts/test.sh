#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up, build, then every test through CTest (tray tests get a virtual display and tray host,
# speech tests a speech-dispatcher of their own, stopped after).
# The build trusts an authority made here, so that the end-to-end tests can run the real
# programs against each other; no key is kept in the repository. Its server is on a port of its
# own, found free here and kept while it stays free, so that the tests do not meet the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh
# systemd for systemd-analyze, which rates the server's unit.
export GLIMDECK_EXTRA_PACKAGES="${GLIMDECK_EXTRA_PACKAGES:-} iproute2 lintian appstream desktop-file-utils wmctrl x11-xserver-utils libglib2.0-bin gsettings-desktop-schemas chromium curl systemd redis-server"
GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
certs="$(pwd)/build/e2e-certs"
ensure_certs "$certs" 30
# The build follows its server's rooms with a view key, as a real deployment does.
[ -s "$certs/view.key" ] || (umask 077 && openssl rand -hex 16 >"$certs/view.key")
scripts/setup.sh -DGLIMDECK_SERVER_HOST="localhost:$(build_port build)" -DGLIMDECK_SERVER_CA="$certs/ca.pem" \
    -DGLIMDECK_VIEW_KEY_FILE="$certs/view.key" "$@"
cd build
exec ../scripts/with-display.sh ../scripts/with-speech.sh ctest --output-on-failure --timeout 900
