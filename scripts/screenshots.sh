#!/bin/sh
# Draws the main window under a virtual X display into docs/ (1x and 2x PNG, and the
# window during a run with its progress bar), and the Conversion Options dialog.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build/release)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target cellverter cellverter-window-screenshot cellverter-options-screenshot
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
  "$build/bin/cellverter-window-screenshot" "$build/bin/cellverter" \
  "$root/docs/main-window.png" "$root/docs/main-window@2x.png" "$root/docs/main-window-running.png"
xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" \
  "$build/bin/cellverter-options-screenshot" "$root/docs/conversion-options.png"
echo "Wrote $root/docs/main-window.png, main-window@2x.png, main-window-running.png and conversion-options.png"
