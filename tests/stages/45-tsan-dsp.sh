#!/usr/bin/env bash
# ThreadSanitizer build of the DSP host's tests: a module applied on the input
# plug-ins' decoding threads while the main thread loads, stops and unloads
# it. Shares the engine stage's build folder; fails on any report.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-engine-tsan"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAV_SANITIZE=thread -DKAV_BUILD_QT=OFF >/dev/null
cmake --build "$build" -j2 --target dsp_host_tests test_dsp test_no_entry bass basswma \
  in_mp3 in_wave

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen KAV_BIN_DIR="$build/bin" KAV_SOURCE_DIR="$root"
status=0
(cd "$build/bin" && "$build/tests/dsp_host_tests") >>"$log" 2>&1 || status=$?
tail -n 5 "$log"
if grep -q "WARNING: ThreadSanitizer" "$log"; then
  grep -A40 "WARNING: ThreadSanitizer" "$log" | head -n 120
  echo "ThreadSanitizer reported a problem in the DSP host's tests" >&2
  exit 1
fi
exit "$status"
