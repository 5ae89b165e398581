#!/usr/bin/env bash
# Starts Quorbel.exe from a folder of its own (settings live beside it).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
work="$build/run"; mkdir -p "$work"
cp "$build/Quorbel.exe" "$work/"
[ -f "$build/zelvane.exe" ] && cp "$build/zelvane.exe" "$work/"
cd "$work"
if [ -n "${DISPLAY:-}" ]; then
  QUORBEL_WINE_BUILD="$build" exec "$here/wine-run.sh" "$work/Quorbel.exe"
fi
echo "run: no display here; starting a private Xvfb on :99 (view it with a VNC server or take screenshots)"
QUORBEL_WINE_BUILD="$build" exec "$here/with-display.sh" "$here/wine-run.sh" "$work/Quorbel.exe"
