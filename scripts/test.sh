#!/usr/bin/env bash
# Set-up, build, then every test through CTest (tray tests get a virtual display and tray host).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
cd build
exec ../scripts/with-display.sh ctest --output-on-failure --timeout 900
