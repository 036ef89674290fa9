#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) in
# build-fuzz and runs each for KAV_FUZZ_SECONDS (10) seconds on a copy of its
# seed corpus, two at a time (each has a processor to itself on two cores),
# at the lowest priority, so that tests running beside them keep their pace.
# Any crash, leak, sanitizer report or time-out fails the stage.
set -euo pipefail
stage_root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$(dirname "$0")/lib.sh"
build="$stage_root/build-fuzz"
seconds="${KAV_FUZZ_SECONDS:-10}"
side_by_side="${KAV_FUZZ_JOBS:-2}"

if stage_builds; then
  CC=clang CXX=clang++ stage_build "$build" -DKAV_FUZZ=ON -DKAV_BUILD_QT=OFF -- kav_fuzz
fi
stage_runs || exit 0

# fuzz_one NAME: one target on a copy of its corpus; its log and any input
# that failed it stay in stage_logs.
fuzz_one() {
  local name=$1 corpus="$stage_logs/corpus/$1"
  mkdir -p "$corpus"
  if [ -d "$stage_root/fuzz/corpus/$name" ]; then cp -r "$stage_root/fuzz/corpus/$name/." "$corpus/"; fi
  nice -n 19 "$build/fuzz-bin/$name" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$stage_logs/$name-" "$corpus" >"$stage_logs/$name.fuzz" 2>&1
}

# report NAME STATUS: one line for a clean target; the log's end and the
# failing input for a finding.
report() {
  local name=$1 log="$stage_logs/$1.fuzz" artifact
  if [ "$2" -eq 0 ]; then
    echo "fuzz $name: clean, $(grep -o 'Done [0-9]* runs' "$log" | tail -1)"
    return 0
  fi
  echo "fuzz $name: FINDING"
  tail -n 60 "$log"
  for artifact in "$stage_logs/$name-"*; do
    [ -e "$artifact" ] && echo "input: $(basename "$artifact") $(od -An -tx1 -N64 "$artifact" | tr -d '\n')"
  done
  return 1
}

names=()
for bin in "$build"/fuzz-bin/*; do [ -x "$bin" ] && names+=("$(basename "$bin")"); done
failed=0
for ((i = 0; i < ${#names[@]}; i += side_by_side)); do
  pids=()
  for name in "${names[@]:i:side_by_side}"; do
    fuzz_one "$name" &
    pids+=($!)
  done
  for k in "${!pids[@]}"; do
    status=0
    wait "${pids[$k]}" || status=$?
    report "${names[i + k]}" "$status" || failed=$((failed + 1))
  done
done
echo "fuzz: ${#names[@]} targets, $failed with findings"
[ "$failed" -eq 0 ]
