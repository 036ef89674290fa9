#!/usr/bin/env bash
# The settings file and the list files under AddressSanitizer and UBSan: the
# INI reader and writer, atomic writes, the M3U loading and writing rules, the
# station's state file, settings and data folder, and the as-run log's
# writing and reading (kavreport's CSV reader over a month of damaged logs).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-lists-asan
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DKAV_SANITIZE=address,undefined -DKAV_BUILD_QT=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ini_tests app_lists_tests station_tests nowplaying_tests \
  nowplaying_report_tests kavreport

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export KAV_BIN_DIR="$build/bin"
for t in ini_tests app_lists_tests station_tests nowplaying_tests nowplaying_report_tests; do
  "$build/tests/$t" --gtest_brief=1
done
