#!/usr/bin/env bash
# The benchmarks, each against its yardstick measured in the same run, round
# by round: Quorbel.exe under Wine (listing and copy against bare exchanges,
# batches against quorbel-peer's tree copies), quorbel-peer against
# itself natively, on loopback and through emulated links, its tree and
# single-file copies against rsync -a over ssh and scp through the same links,
# and the secure sessions' cryptography against memory copies.
# Usage: scripts/bench.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?build dir}" && pwd)"

# Every benchmark runs even when one fails; the status tells of any failure.
status=0
for bench in listing copy; do
  echo "== $bench: Quorbel.exe under Wine (x64 Release)"
  "$here/wine-run.sh" "$build/win64/win_$bench.exe" || status=1
done
echo "== fast mode against the plain protocol: Quorbel.exe under Wine with quorbel-peer"
"$here/../bench/wine_fast.py" "$build" || status=1
echo "== batches: Quorbel.exe's transfer dialog under Wine against quorbel-peer's own tree copies"
"$here/../bench/wine_batch.py" "$build" || status=1
echo "== secure sessions' cryptography: the key exchange a side and sealed frames, natively and the x64 build under Wine"
"$build/native/crypto_bench" || status=1
"$here/wine-run.sh" "$build/win64/crypto_bench.exe" || status=1
echo "== quorbel-peer to quorbel-peer (optimised build) against bare exchanges and bulk TCP"
"$build/native/peer_bench" "$build/native/quorbel-peer" || status=1
# The secure session's yardstick: quorbel-peer of the release before it,
# whose fast mode sealed nothing, built once from the project's history.
previous="$build/previous"
previous_release=feeacd0
if [ ! -x "$previous/build/quorbel-peer" ]; then
  rm -rf "$previous" && mkdir -p "$previous/src" &&
  git -C "$here/.." archive "$previous_release" | tar -x -C "$previous/src" &&
  cmake -S "$previous/src" -B "$previous/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORBEL_TESTS=OFF >/dev/null &&
  cmake --build "$previous/build" --target quorbel-peer >/dev/null || { echo "bench: cannot build $previous_release"; status=1; }
fi
echo "== quorbel-peer to quorbel-peer through emulated links (LAN, Wi-Fi, VPN) against bare transfers through the same link,"
echo "   and the secure fast copy against the release before's unencrypted one ($previous_release)"
yardstick=()
[ -x "$previous/build/quorbel-peer" ] && yardstick=(--unencrypted="$previous/build/quorbel-peer")
"$build/native/link_bench" "$build/native/quorbel-peer" "$build/native/link_relay" "${yardstick[@]}" || status=1
echo "== quorbel-peer's folder trees and single files against rsync -a over ssh and scp, on loopback and through"
echo "   emulated links (LAN, VPN), against a private sshd this benchmark starts and stops"
"$here/setup.sh" bench || echo "bench: OpenSSH and rsync cannot be installed; the yardstick is skipped"
"$build/native/tree_bench" "$build/native/quorbel-peer" "$build/native/link_relay" || status=1
exit $status
