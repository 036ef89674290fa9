#!/usr/bin/env bash
# ThreadSanitizer build of the engine's playing tests (the player on the real
# audio library, its sync threads and the test's HTTP servers), of the
# input plug-ins played through the output emulator, of the DSP host (a module
# applied on the plug-ins' decoding threads while the main thread loads, stops
# and unloads it), of the playback control and scheduler on that engine, of
# the station's pieces (the command runner's thread, the lock, the state), and
# of the station's file writer (its thread beside the producer's, the commands
# it starts); fails on any report.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build-tsan"  # shared with the audio library's ThreadSanitizer stage

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAV_SANITIZE=thread -DKAV_BUILD_QT=OFF >/dev/null
cmake --build "$build" -j2 --target engine_player_tests schedule_engine_tests bass basswma \
  plugin_ring_tests plugin_host_tests in_mp3 in_wave dsp_host_tests test_dsp test_no_entry \
  station_tests nowplaying_tests

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# No suppressions: the message windows order each delivery after its post in
# a way the sanitizer sees, although Qt's own queue is not instrumented.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen KAV_BIN_DIR="$build/bin" KAV_SOURCE_DIR="$root"
status=0
for suite in engine_player_tests schedule_engine_tests plugin_ring_tests plugin_host_tests \
  dsp_host_tests station_tests nowplaying_tests; do
  (cd "$build/bin" && "$build/tests/$suite") >>"$log" 2>&1 || status=$?
done
tail -n 5 "$log"
if grep -q "WARNING: ThreadSanitizer" "$log"; then
  grep -A40 "WARNING: ThreadSanitizer" "$log" | head -n 120
  echo "ThreadSanitizer reported a problem in the playing tests" >&2
  exit 1
fi
exit "$status"
