#!/bin/sh
# Redraws the PNGs the build embeds, and the installed icon's sizes, from
# their SVG sources. ImageMagick's built-in SVG reader draws gradients black
# and ignores font weights, so rsvg-convert (Debian: librsvg2-bin)
# rasterises and convert writes a plain 32-bit PNG without metadata, so the
# files only change when the art does.
set -e
cd "$(dirname "$0")"
for name in logo startpoll pollbench; do
    rsvg-convert "$name.svg" | convert - -strip "PNG32:$name.png"
done
for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" pollbench.svg | convert - -strip "PNG32:icons/pollbench-$size.png"
done
