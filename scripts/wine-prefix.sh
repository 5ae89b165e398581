#!/usr/bin/env bash
# Creates the Wine prefix of a build folder once: Japanese locale, classic
# (unthemed) controls, as a manifest-less program has them on Windows.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/wine-env.sh" "$1"
stamp="$WINEPREFIX/.quorbel-ready"
# A prefix made before Wine's 32-bit half was installed cannot load it: the
# stamp records which Wine the prefix was made with.
wine_kind="$(dpkg-query -W -f='${Version} ' wine64 wine32:i386 2>/dev/null || true)"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wine_kind" ] && exit 0
rm -rf "$WINEPREFIX"
echo "wine: creating prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
# The theme setting must land after wineboot has written its defaults.
wineserver -w
"$WINE64" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive /t REG_SZ /d 0 /f >/dev/null 2>&1
# Xvfb has no window manager: Wine then draws captions and frames itself.
"$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$WINE64" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager' /v ThemeActive >/dev/null 2>&1 \
  || { echo "wine: could not turn the theme off" >&2; exit 1; }
wineserver -w
echo "$wine_kind" >"$stamp"
