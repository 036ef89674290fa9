#!/usr/bin/env bash
# The audio library's tests under ThreadSanitizer (its network streams too,
# and the stream outputs that read its tap): any report fails the stage.
# Runs alone.
set -euo pipefail
stage_root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$(dirname "$0")/lib.sh"
build="$stage_root/build-tsan"  # shared with the engine's ThreadSanitizer stage

if stage_builds; then
  stage_build "$build" -DKAV_SANITIZE=thread -DKAV_BUILD_QT=OFF -- bass basswma \
    incomplete_bass basstool bass_tests bass_ring_tests net_library_tests onair_tests \
    onair_server_tests
fi
stage_runs || exit 0

export KAV_BIN_DIR="$build/bin"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1"
# ThreadSanitizer cannot map its shadow memory with a fully randomised address space.
run=()
command -v setarch >/dev/null && setarch -R true 2>/dev/null && run=(setarch -R)
cd "$KAV_BIN_DIR"
start_suite bass_ring_tests 1 "${run[@]}" ../tests/bass_ring_tests --gtest_brief=1
start_suite bass_tests 2 "${run[@]}" ../tests/bass_tests --gtest_brief=1
start_suite net_library_tests 1 "${run[@]}" ../tests/net_library_tests --gtest_brief=1
start_suite onair_tests 1 "${run[@]}" ../tests/onair_tests --gtest_brief=1
# The outputs' threads against the server; not the built program (this build
# has no window) nor the titles' 3 s, which this build is too slow to keep.
start_suite onair_server_tests 2 "${run[@]}" ../tests/onair_server_tests --gtest_brief=1 \
  --gtest_filter='OnAirServer.*:-OnAirServer.ListenersHearTheProgramAndItsTitles'
status=0
wait_suites || status=$?
if sanitizer_reported "WARNING: ThreadSanitizer"; then
  echo "ThreadSanitizer reported a problem in the audio library tests" >&2
  exit 1
fi
exit "$status"
