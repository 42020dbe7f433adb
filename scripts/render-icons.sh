#!/bin/sh
# Renders the program icon (src/app/icons/cellverter.svg) into the PNG sizes that desktop
# menus use, as packaging/icons/<size>.png. Run it after changing the SVG and commit the
# result; the build itself needs no SVG renderer. Needs rsvg-convert (librsvg2-bin).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
svg="$root/src/app/icons/cellverter.svg"
mkdir -p "$root/packaging/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio "$svg" \
    --output "$root/packaging/icons/$size.png"
done
echo "Rendered $svg into $root/packaging/icons/"
