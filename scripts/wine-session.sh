#!/usr/bin/env bash
# Runs a command inside one Wine session of a build folder: the wineserver
# and Wine's own services start here with no inherited output pipes, so that
# no test process ends up waiting for them, and they are stopped afterwards.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"; shift
"$here/wine-prefix.sh" "$build"
. "$here/wine-env.sh" "$build"
wineserver -p </dev/null >/dev/null 2>&1
"$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1
"$@"; rc=$?
wineserver -k >/dev/null 2>&1
exit $rc
