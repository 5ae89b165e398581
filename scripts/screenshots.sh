#!/usr/bin/env bash
# Runs the screenshot tool of the x64 build in a Wine session of its own and
# turns its BMPs into PNGs. Usage: scripts/screenshots.sh BUILD_DIR OUTPUT_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"; out="$(cd "$2" && pwd)"
rm -f "$out"/*.bmp "$out"/*.png
"$here/wine-session.sh" "$build" sh -c '"$0" "$1" "$(winepath -w "$2")"' \
  "$here/wine-run.sh" "$build/screenshots.exe" "$out"
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$out"
