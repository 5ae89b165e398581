#!/usr/bin/env bash
# Listing and file copy against bare exchanges: natively through the core
# (the CMake build, under the sanitizers, and an -O2 build without them),
# then against Quorbel.exe under Wine. Usage: scripts/bench.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="$(cd "${1:?build dir}" && pwd)"

# Every benchmark runs even when one fails; the status tells of any failure.
status=0
for bench in listing copy; do
  echo "== $bench: native, CMake build (Debug, ASan/UBSan)"
  "$build/native/native_$bench" || status=1

  echo "== $bench: native, -O2 without sanitizers"
  plain="$build/native/native_${bench}_O2"
  g++ -std=c++17 -O2 -I"$root/src" "$root/bench/native_$bench.cpp" "$root"/src/core/*.cpp -o "$plain" -pthread
  "$plain" || status=1

  echo "== $bench: Quorbel.exe under Wine (x64 Release)"
  "$here/wine-run.sh" "$build/win64/win_$bench.exe" || status=1
done
exit $status
