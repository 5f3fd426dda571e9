#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What glimdeck-server keeps of a typical phone photo: a 4032 x 3024 JPEG at quality 92 with
# EXIF (camera, orientation "turn a quarter", GPS position) goes through a real upload; prints
# the sizes before and after, the stored picture's dimensions and what metadata is left.
# Needs ImageMagick, python3 and curl; builds the server in build/ if it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib.sh
source scripts/lib.sh
PORT=${PORT:-18480}
server=build/server/glimdeck-server
[ -x "$server" ] || cmake --build build --target glimdeck-server
work=$(mktemp -d)
server_pid=
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

convert -size 4032x3024 plasma:fractal -quality 92 "$work/plain.jpg"
# An APP1 EXIF segment as a phone writes one: Make, Model, Orientation 6 and a GPS position.
python3 - "$work/plain.jpg" "$work/phone.jpg" <<'PY'
import struct, sys
def entry(tag, kind, count, value):
    return struct.pack(">HHI", tag, kind, count) + value.ljust(4, b"\0")
make, model = b"Phone\0", b"Phone 12 Pro\0"
ifd0_size = 2 + 5 * 12 + 4
data_at = 8 + ifd0_size
gps_at = data_at + len(make) + len(model)
ifd0 = struct.pack(">H", 5) + entry(0x010F, 2, len(make), struct.pack(">I", data_at)) \
    + entry(0x0110, 2, len(model), struct.pack(">I", data_at + len(make))) \
    + entry(0x0112, 3, 1, struct.pack(">H", 6)) + entry(0x0131, 2, 4, b"iOS\0") \
    + entry(0x8825, 4, 1, struct.pack(">I", gps_at)) + struct.pack(">I", 0)
rationals_at = gps_at + 2 + 4 * 12 + 4
gps = struct.pack(">H", 4) + entry(1, 2, 2, b"N\0") + entry(2, 5, 3, struct.pack(">I", rationals_at)) \
    + entry(3, 2, 2, b"E\0") + entry(4, 5, 3, struct.pack(">I", rationals_at + 24)) + struct.pack(">I", 0)
rationals = struct.pack(">6I", 48, 1, 51, 1, 2964, 100) + struct.pack(">6I", 2, 1, 17, 1, 4020, 100)
tiff = b"MM\0*" + struct.pack(">I", 8) + ifd0 + make + model + gps + rationals
app1 = b"\xff\xe1" + struct.pack(">H", 2 + 6 + len(tiff)) + b"Exif\0\0" + tiff
jpeg = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(jpeg[:2] + app1 + jpeg[2:])
PY

"$server" --no-tls --port "$PORT" --storage "$work/storage" --open-uploads >"$work/server.log" 2>&1 &
server_pid=$!
wait_answer "$server_pid" 50 "http://127.0.0.1:$PORT/users" ||
    { tail -5 "$work/server.log" && echo "photo-figures: glimdeck-server did not start" >&2 && exit 1; }
curl -sf -o /dev/null -F room=photo -F message=figures -F "picture=@$work/phone.jpg" "http://127.0.0.1:$PORT/upload"
stored=$(ls "$work"/storage/*)
before=$(stat -c %s "$work/phone.jpg")
after=$(stat -c %s "$stored")
echo "PHOTO upload: $(identify -format '%w x %h' "$work/phone.jpg"), $before bytes, EXIF: $(identify -format '%[EXIF:Orientation] orientation, GPS %[EXIF:GPSLatitude]' "$work/phone.jpg" 2>/dev/null)"
echo "PHOTO stored: $(identify -format '%w x %h' "$stored"), $after bytes ($((100 * after / before))% of the upload), EXIF left: $(identify -format '%[EXIF:*]' "$stored" 2>/dev/null | wc -l) entries"
