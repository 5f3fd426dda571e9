#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that are missing, then configures and builds into build/.
# Extra arguments go to the CMake configure step (e.g. -DGLIMDECK_SERVER_HOST=photos.example.org).
# With GLIMDECK_DEPS_ONLY=1 it stops after the packages; GLIMDECK_EXTRA_PACKAGES adds packages.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    cmake ninja-build g++ pkg-config openssl ca-certificates dpkg-dev libhiredis-dev
    qt6-base-dev qt6-base-dev-tools qt6-websockets-dev qt6-speech-dev qt6-declarative-dev
    qt6-httpserver-dev qt6-speech-flite-plugin qt6-l10n-tools libgl-dev
    xvfb xauth trayer x11-utils xdotool imagemagick nginx-light openbox libxcb1-dev libxcb-keysyms1-dev
    speech-dispatcher speech-dispatcher-espeak-ng qt6-speech-speechd-plugin dbus-daemon python3-dbusmock
)
# shellcheck disable=SC2206 # a space-separated list of package names
PACKAGES+=(${GLIMDECK_EXTRA_PACKAGES:-})

missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    # Packages such as nginx and speech-dispatcher would start system services of their own;
    # the tests start private instances, so none is started here.
    no_services=
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee /usr/sbin/policy-rc.d >/dev/null
        "${as_root[@]}" chmod 755 /usr/sbin/policy-rc.d
        no_services=1
    fi
    status=0
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
        status=$?
    [ -z "$no_services" ] || "${as_root[@]}" rm -f /usr/sbin/policy-rc.d
    [ "$status" -eq 0 ] || exit "$status"
fi

[ -z "${GLIMDECK_DEPS_ONLY:-}" ] || exit 0

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
