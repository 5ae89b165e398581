#!/usr/bin/env bash
# Runs a Windows program of the x64 build under Wine (ctest's emulator).
# The build folder is found from the program's path (it lives inside it).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
exe="$1"; shift
build="${QUORBEL_WINE_BUILD:-$(cd "$(dirname "$exe")" && pwd)}"
"$here/wine-prefix.sh" "$build"
. "$here/wine-env.sh" "$build"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run: no DISPLAY (run through scripts/with-display.sh)" >&2
  exit 2
fi
exec "$WINE64" "$exe" "$@"
