#!/usr/bin/env bash
# Listing against bare exchanges: natively through the core (the CMake
# build, under the sanitizers, and an -O2 build without them), then against
# Quorbel.exe under Wine. Usage: scripts/bench.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${1:?build dir}" && pwd)"

echo "== native, CMake build (Debug, ASan/UBSan)"
"$build/native/native_listing"

echo "== native, -O2 without sanitizers"
plain="$build/native/native_listing_O2"
g++ -std=c++17 -O2 -I"$root/src" "$root/bench/native_listing.cpp" "$root"/src/core/*.cpp -o "$plain" -pthread
"$plain"

echo "== Quorbel.exe under Wine (x64 Release)"
"$here/wine-run.sh" "$build/win64/win_listing.exe"
