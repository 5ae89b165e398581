#!/usr/bin/env bash
# Builds the user manual: the Markdown chapters of docs/manual with the
# screenshots of BUILD/screenshots, through HTML (pandoc) into
# BUILD/manual/Quorbel_manual.pdf (WeasyPrint, IPAex fonts).
# Usage: scripts/manual.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?build dir}" && pwd)"
src="$root/docs/manual"
out="$build/manual"
version="$(sed -n 's/^#define QUORBEL_VERSION_TEXT "\(.*\)"/\1/p' "$root/src/core/base/version.h")"
[ -n "$version" ] || { echo "manual: no QUORBEL_VERSION_TEXT in src/core/base/version.h" >&2; exit 1; }

# Every picture the chapters show must be there: a manual with holes is no manual.
missing=0
for shot in $(grep -ho 'screenshots/[A-Za-z0-9_]*\.png' "$src"/[0-9]*.md | sort -u); do
  if [ ! -s "$build/$shot" ]; then
    echo "manual: $build/$shot is missing (make screenshots writes it)" >&2
    missing=1
  fi
done
[ "$missing" -eq 0 ] || exit 1

mkdir -p "$out"
date="$(date -u ${SOURCE_DATE_EPOCH:+-d @$SOURCE_DATE_EPOCH} +%Y-%m-%d)"
# markdown-smart: quoted program texts keep their straight quotes, "..." and "--";
# -tex_math_dollars: "$" is a character of names such as report.$TEMP;
# east_asian_line_breaks: a line break between Japanese characters adds no space;
# --columns=20: every pipe table takes its column widths from its dashes.
pandoc -f markdown-smart-tex_math_dollars+east_asian_line_breaks -t html5 --standalone --template="$src/template.html" \
  --toc --toc-depth=2 --number-sections --wrap=none --columns=20 \
  --metadata title="ユーザーマニュアル" \
  --metadata subtitle="2 台の PC の間でファイルを移すプログラム" \
  --metadata version="$version" --metadata date="$date" \
  -o "$out/Quorbel_manual.html" "$src"/[0-9]*.md
# Pictures are found relative to the build folder (screenshots/...).
weasyprint --base-url "$build/" --stylesheet "$src/manual.css" \
  "$out/Quorbel_manual.html" "$out/Quorbel_manual.pdf"
echo "manual: $out/Quorbel_manual.pdf ($(pdfinfo "$out/Quorbel_manual.pdf" | sed -n 's/^Pages: *//p') pages)"
