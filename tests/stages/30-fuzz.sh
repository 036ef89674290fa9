#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) in
# build-fuzz and runs each for KAV_FUZZ_SECONDS (10) seconds on a copy of its
# seed corpus. Any crash, leak, sanitizer report or time-out fails the stage.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-fuzz"
seconds="${KAV_FUZZ_SECONDS:-10}"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" \
  -DKAV_FUZZ=ON -DKAV_BUILD_QT=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target kav_fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
ran=0
for bin in "$build"/fuzz-bin/*; do
  [ -x "$bin" ] || continue
  name="$(basename "$bin")"
  corpus="$work/corpus/$name"
  mkdir -p "$corpus"
  if [ -d "$root/fuzz/corpus/$name" ]; then cp -r "$root/fuzz/corpus/$name/." "$corpus/"; fi
  log="$work/$name.log"
  ran=$((ran + 1))
  if "$bin" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$work/$name-" "$corpus" >"$log" 2>&1; then
    echo "fuzz $name: clean, $(grep -o 'Done [0-9]* runs' "$log" | tail -1)"
  else
    echo "fuzz $name: FINDING"
    tail -n 60 "$log"
    for artifact in "$work/$name-"*; do
      [ -e "$artifact" ] && echo "input: $(basename "$artifact") $(od -An -tx1 -N64 "$artifact" | tr -d '\n')"
    done
    failed=$((failed + 1))
  fi
done
echo "fuzz: $ran targets, $failed with findings"
[ "$failed" -eq 0 ]
