#!/usr/bin/env bash
# Runs every fuzz target in turn, the whole run (each target's replay of its seeds included)
# within the time given. Seeds are read from fuzz/corpus/ and left as they are; what a run finds
# (new inputs, and a crashing input) is written under the build folder.
set -euo pipefail
BUILD=${1:-build/fuzz}
TOTAL_SECONDS=${2:-600}
# Undefined behaviour stops a run like a crash, so that it leaves an input behind.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
deadline=$(($(now_ms) + TOTAL_SECONDS * 1000))
targets=()
for target in "$BUILD"/fuzz_*; do
  [ -x "$target" ] && targets+=("$target")
done
left_targets=${#targets[@]}
# libFuzzer's exit when interrupted (the time ran out while it replayed its seeds).
interrupted=72
for target in "${targets[@]}"; do
  name=$(basename "$target")
  kind=${name#fuzz_}
  left_ms=$((deadline - $(now_ms)))
  share_ms=$((left_ms / left_targets))
  left_targets=$((left_targets - 1))
  if [ "$share_ms" -lt 100 ]; then
    echo "== $name skipped: no time left"
    continue
  fi
  found="$BUILD/corpus/$kind"
  artifacts="$BUILD/artifacts/$kind/"
  mkdir -p "$found" "$artifacts"
  seeds=()
  [ -d "fuzz/corpus/$kind" ] && seeds+=("fuzz/corpus/$kind")
  extra=()
  [ -f "fuzz/$kind.dict" ] && extra+=(-dict="fuzz/$kind.dict")
  fuzz_seconds=$((share_ms / 1000))
  [ "$fuzz_seconds" -ge 1 ] || fuzz_seconds=1
  share=$((share_ms / 1000)).$(printf '%03d' $((share_ms % 1000)))
  echo "== $name for ${share}s"
  # New inputs go to the first folder named; the seeds' folder is only read. The replay of the
  # seeds is not bounded by -max_total_time: the share is held by an interrupt.
  status=0
  timeout -s INT -k 5 "$share" "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 \
    -timeout=10 -artifact_prefix="$artifacts" "${extra[@]}" "$found" "${seeds[@]}" || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne "$interrupted" ] && [ "$status" -ne 124 ]; then
    echo "== $name failed ($status): its input is in $artifacts"
    exit "$status"
  fi
done
