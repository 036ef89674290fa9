#!/usr/bin/env bash
# ThreadSanitizer build of the engine's playing tests (the player on the real
# audio library, its sync threads and the test's HTTP servers), of the
# input plug-ins played through the output emulator, of the DSP host (a module
# applied on the plug-ins' decoding threads while the main thread loads, stops
# and unloads it), of the playback control and scheduler on that engine, of
# the station's pieces (the command runner's thread, the lock, the state), and
# of the station's file writer (its thread beside the producer's, the commands
# it starts); fails on any report.
# Runs alone.
set -euo pipefail
stage_root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$(dirname "$0")/lib.sh"
build="$stage_root/build-tsan"  # shared with the audio library's ThreadSanitizer stage

if stage_builds; then
  stage_build "$build" -DKAV_SANITIZE=thread -DKAV_BUILD_QT=OFF -- engine_player_tests \
    schedule_engine_tests bass basswma plugin_ring_tests plugin_host_tests in_mp3 in_wave \
    dsp_host_tests test_dsp test_no_entry station_tests nowplaying_tests
fi
stage_runs || exit 0

# No suppressions: the message windows order each delivery after its post in
# a way the sanitizer sees, although Qt's own queue is not instrumented.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen KAV_BIN_DIR="$build/bin" KAV_SOURCE_DIR="$stage_root"
cd "$build/bin"
for suite in engine_player_tests:1 schedule_engine_tests:2 plugin_ring_tests:1 \
  plugin_host_tests:2 dsp_host_tests:1 station_tests:1 nowplaying_tests:1; do
  start_suite "${suite%:*}" "${suite#*:}" "$build/tests/${suite%:*}" --gtest_brief=1
done
status=0
wait_suites || status=$?
if sanitizer_reported "WARNING: ThreadSanitizer"; then
  echo "ThreadSanitizer reported a problem in the playing tests" >&2
  exit 1
fi
exit "$status"
