#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the tray and application pictures into data/icons/ with ImageMagick. The results are
# committed; the build only embeds them and never runs this script.
#   icon.png      22 x 22, green disc (connected)
#   icon-red.png  22 x 22, the same disc in red (disconnected)
#   icon@2x.png, icon-red@2x.png  44 x 44, drawn at that size for screens scaled by 2
#   logo.ico      one 256 x 256 image
#   ../../server/web/icon-192.png, icon-512.png  the upload page's app icons, from data/glimdeck.png
set -euo pipefail
cd "$(dirname "$0")/../data/icons"

# No time stamps or other metadata, so that running the script again gives the same bytes.
STRIP=(-strip -define png:exclude-chunks=date,time)

disc() { # size fill outline output
    local size=$1 fill=$2 outline=$3 output=$4
    local c=$(( size / 2 )) r=$(( size / 2 - size / 11 - 1 ))
    local w=$(( size / 11 > 1 ? size / 11 : 1 ))
    local hr=$(( r / 3 )) hx=$(( c - r / 3 )) hy=$(( c - r / 3 ))
    convert -size "${size}x${size}" xc:none \
        -fill "$fill" -stroke "$outline" -strokewidth "$w" \
        -draw "circle $c,$c $c,$(( c - r ))" \
        -stroke none -fill 'rgba(255,255,255,0.45)' \
        -draw "circle $hx,$hy $hx,$(( hy - hr ))" \
        "${STRIP[@]}" "PNG32:$output"
}

disc 22 '#2ecc40' '#1b7a26' icon.png
disc 22 '#e53935' '#8e1c1a' icon-red.png
disc 44 '#2ecc40' '#1b7a26' icon@2x.png
disc 44 '#e53935' '#8e1c1a' icon-red@2x.png

disc 256 '#2ecc40' '#1b7a26' logo-256.png
convert logo-256.png -define icon:auto-resize=256 logo.ico
rm -f logo-256.png

# The upload page's app icons (192 and 512 px), from the application picture.
cd ../../server/web
for size in 192 512; do
    convert ../../data/glimdeck.png -filter Lanczos -resize "${size}x${size}" "${STRIP[@]}" "PNG32:icon-$size.png"
done
