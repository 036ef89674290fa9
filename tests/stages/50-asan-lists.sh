#!/usr/bin/env bash
# The settings file and the list files under AddressSanitizer and UBSan: the
# INI reader and writer, atomic writes, the M3U loading and writing rules, the
# station's state file, settings and data folder, and the as-run log's
# writing and reading (kavreport's CSV reader over a month of damaged logs).
set -euo pipefail
stage_root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$(dirname "$0")/lib.sh"
build="$stage_root/build-lists-asan"

suites=(ini_tests app_lists_tests station_tests nowplaying_tests nowplaying_report_tests)
if stage_builds; then
  stage_build "$build" -DKAV_SANITIZE=address,undefined -DKAV_BUILD_QT=OFF -- \
    "${suites[@]}" kavreport
fi
stage_runs || exit 0

cd "$stage_root"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export KAV_BIN_DIR="$build/bin"
for suite in "${suites[@]}"; do
  start_suite "$suite" 1 "$build/tests/$suite" --gtest_brief=1
done
wait_suites
