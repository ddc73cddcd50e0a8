#!/usr/bin/env bash
# Runs every fuzz target for a bounded time over its committed corpus.
set -euo pipefail
BUILD=${1:-build/fuzz}
SECONDS_EACH=${2:-600}
# Undefined behaviour stops a run like a crash, so that it leaves an input behind.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
for target in "$BUILD"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="fuzz/corpus/${name#fuzz_}"
  mkdir -p "$corpus"
  dict="fuzz/${name#fuzz_}.dict"
  extra=()
  [ -f "$dict" ] && extra+=(-dict="$dict")
  echo "== $name for ${SECONDS_EACH}s"
  "$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 "${extra[@]}" "$corpus"
done
