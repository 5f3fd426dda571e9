#!/usr/bin/env bash
# Set-up, build, then start Glim-deck (with a virtual display and tray host when there is none).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
exec scripts/with-display.sh build/src/glimdeck
