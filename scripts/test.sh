#!/usr/bin/env bash
# Set-up, build, then every test through CTest (tray tests get a virtual display and tray host,
# speech tests a speech-dispatcher of their own, stopped after).
# The build trusts an authority made here, so that the end-to-end tests can run the real
# programs against each other; no key is kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
GLIMDECK_DEPS_ONLY=1 scripts/setup.sh
certs="$(pwd)/build/e2e-certs"
openssl x509 -checkend 86400 -noout -in "$certs/server.pem" >/dev/null 2>&1 || scripts/make-certs.sh "$certs" 30
scripts/setup.sh -DGLIMDECK_SERVER_CA="$certs/ca.pem" "$@"
cd build
exec ../scripts/with-display.sh ../scripts/with-speech.sh ctest --output-on-failure --timeout 900
