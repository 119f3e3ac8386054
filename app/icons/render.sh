#!/usr/bin/env bash
# Renders the committed window icons from korvane.svg (needs rsvg-convert and ImageMagick: bash scripts/setup icons).
# Run it after editing the drawing; the build uses the PNG and ICO files as they are committed.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 32; do
  rsvg-convert -w "$size" -h "$size" korvane.svg -o "$tmp/$size.png"
  convert "$tmp/$size.png" -strip "PNG32:korvane-$size.png"
done
convert korvane-16.png korvane-32.png -colors 256 korvane.ico
