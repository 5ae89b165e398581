# Sourced: the Wine environment of one build folder (prefix inside it).
# Usage: . scripts/wine-env.sh BUILD_DIR
_qb_build="$(cd "${1:?build dir}" && pwd)"
export WINEPREFIX="$_qb_build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8
unset _qb_build
# Debian keeps the 64-bit loader out of PATH.
WINE64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
export WINE64
