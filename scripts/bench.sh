#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Set-up, build, then the photo benchmark on a virtual full-HD screen: one photo's road from
# the broadcast to the overlay against the floor of its parts, the same with speech switched on
# (a private speech-dispatcher), three photos at once, and memory around 300 photos.
# Extra arguments go to the benchmark (--rounds N, --photos N).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
GLIMDECK_XVFB_SCREEN=1920x1080x24 QT_QPA_PLATFORM=xcb exec scripts/with-display.sh scripts/with-speech.sh build/bench/bench_photo "$@"
