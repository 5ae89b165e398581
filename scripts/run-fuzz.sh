#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each.
set -euo pipefail
build="$1"; seconds="$2"
shopt -s nullglob
for t in "$build"/*_fuzz; do
  corpus="$build/corpus/$(basename "$t")"; mkdir -p "$corpus"
  echo "fuzz: $(basename "$t") for ${seconds}s"
  "$t" -max_total_time="$seconds" -max_len=1100 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
done
