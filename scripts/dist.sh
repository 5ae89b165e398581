#!/usr/bin/env bash
# Builds the release packages into BUILD/dist:
#   Quorbel-VERSION-win32.zip: the 32-bit Quorbel.exe and zelvane.exe
#     (BUILD/win32), the manual (BUILD/manual) and a README.txt;
#   quorbel-peer-VERSION-linux-x86_64.tar.gz: quorbel-peer (BUILD/native),
#     its manual page and a README.txt.
# Usage: scripts/dist.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?build dir}" && pwd)"
version="$(sed -n 's/^#define QUORBEL_VERSION_TEXT "\(.*\)"/\1/p' "$root/src/core/base/version.h")"
[ -n "$version" ] || { echo "dist: no QUORBEL_VERSION_TEXT in src/core/base/version.h" >&2; exit 1; }

need() {
  if [ ! -s "$1" ]; then echo "dist: $1 is missing: $2" >&2; exit 1; fi
}
need "$build/win32/Quorbel.exe" "make win32 builds it"
need "$build/win32/zelvane.exe" "make win32 builds it"
need "$build/manual/Quorbel_manual.pdf" "make manual builds it"
need "$build/native/quorbel-peer" "make native builds it (the quorbel-peer target of the native build)"

revision="$(git -C "$root" rev-parse --short=12 HEAD 2>/dev/null)" \
  || { echo "dist: $root is not a git checkout; the package names its source revision" >&2; exit 1; }
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] || revision="$revision-modified"
date="$(date -u ${SOURCE_DATE_EPOCH:+-d @$SOURCE_DATE_EPOCH} +%Y-%m-%d)"
stamp="${SOURCE_DATE_EPOCH:-$(date +%s)}"

# libgcrypt and libgpg-error: the Windows programs carry them (linked
# statically), quorbel-peer uses the system's. Their licence and sources.
third_party() {
  local gcrypt gpgerror
  gcrypt="$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown)"
  gpgerror="$(dpkg-query -W -f='${Version}' "$2" 2>/dev/null || echo unknown)"
  cat <<EOF

Third-party software
--------------------
$3
  libgcrypt $gcrypt (Debian package $1) and
  libgpg-error $gpgerror (Debian package $2),
under the GNU Lesser General Public License, version 2.1 or later:
https://www.gnu.org/licenses/old-licenses/lgpl-2.1.html
Their sources are the Debian source packages libgcrypt20 and libgpg-error
("apt-get source libgcrypt20 libgpg-error", or
https://sources.debian.org/src/libgcrypt20/ and
https://sources.debian.org/src/libgpg-error/). Quorbel's own sources, with
which a changed library can be linked in their place, are those of the
source revision named above.
EOF
}

dist="$build/dist"
stage="$dist/stage"
rm -rf "$stage"
mkdir -p "$stage/win32"
zipfile="$dist/Quorbel-$version-win32.zip"
peerdir="quorbel-peer-$version"
tarball="$dist/$peerdir-linux-x86_64.tar.gz"
rm -f "$zipfile" "$tarball"

# ---- Windows: the files side by side, runnable where they are unpacked ----
w="$stage/win32"
cp "$build/win32/Quorbel.exe" "$w/"
i686-w64-mingw32-strip -o "$w/zelvane.exe" "$build/win32/zelvane.exe"
cp "$build/manual/Quorbel_manual.pdf" "$w/"
{
  printf '\xef\xbb\xbf'
  cat <<EOF
Quorbel $version (Windows 32-bit)

Build date:      $date
Source revision: $revision

2 台の PC の間で、1 本の TCP 接続でファイルを移すプログラムです。
インストールは要りません。このフォルダの Quorbel.exe を起動してください。
zelvane.exe と Quorbel_manual.pdf は Quorbel.exe と同じフォルダに置いたままにします。
使い方は Quorbel_manual.pdf（メニューの「ドキメント」でも開きます）をご覧ください。

Quorbel moves files between two PCs over one TCP connection. Nothing to
install: start Quorbel.exe from this folder, and keep zelvane.exe and
Quorbel_manual.pdf next to it. The manual (Japanese) is Quorbel_manual.pdf.

EOF
  cat "$root/LICENSE"
  third_party libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev "Quorbel.exe contains, linked statically:"
} | sed 's/$/\r/' > "$w/README.txt"
touch -d "@$stamp" "$w"/*
(cd "$w" && zip -X -q "$zipfile" Quorbel.exe zelvane.exe Quorbel_manual.pdf README.txt)

# ---- Linux: quorbel-peer with its manual page ----
l="$stage/$peerdir"
mkdir -p "$l"
strip -o "$l/quorbel-peer" "$build/native/quorbel-peer"
pandoc -f markdown-smart -s -t man \
  -M title=QUORBEL-PEER -M section=1 -M header="Quorbel" \
  -M footer="quorbel-peer $version" -M date="$date" \
  -o "$l/quorbel-peer.1" "$root/docs/quorbel-peer.1.md"
{
  cat <<EOF
quorbel-peer $version (Linux x86-64)

Build date:      $date
Source revision: $revision

quorbel-peer lets a Linux machine take either role against Quorbel.exe, the
Windows program that moves files between two PCs over one TCP connection:
"quorbel-peer serve" shows local folders to a Windows Client as drives, and
the verbs ls, get, put and mkdir work on the folders of a Windows Server.

Install:
  install -m 755 quorbel-peer /usr/local/bin/
  install -m 644 quorbel-peer.1 /usr/local/share/man/man1/
Read the manual page with "man quorbel-peer" (or "man -l quorbel-peer.1").
It needs the system's libgcrypt (Debian and Ubuntu: the package libgcrypt20).

EOF
  cat "$root/LICENSE"
  third_party libgcrypt20 libgpg-error0 "quorbel-peer uses the system's:"
} > "$l/README.txt"
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$stamp" \
  -C "$stage" -czf "$tarball" "$peerdir"

rm -rf "$stage"
ls -l "$zipfile" "$tarball"
