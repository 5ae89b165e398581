#!/usr/bin/env bash
# Runs the screenshot tests of the x64 build and writes PNGs of the windows.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"; out="$(cd "$2" && pwd)"
. "$here/wine-env.sh" "$build"
shots="$(winepath -w "$out")"
cd "$build"
QUORBEL_SCREENSHOTS="$shots" "$here/wine-run.sh" ./win_tests.exe --gtest_filter='*Screenshot*' >/dev/null || true
shopt -s nullglob
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$out"
