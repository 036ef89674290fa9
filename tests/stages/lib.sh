# Shared by the stage scripts, sourced, never run: building a tree of its own
# and running test programs side by side, each into a log of its own.
#
# A stage script takes one argument: "build" (configure and build its tree),
# "run" (run what was built) or nothing (both). ./test builds every tree first
# and then runs the stages beside the program's own tests.

stage_step="${1:-all}"
case "$stage_step" in
  build | run | all) ;;
  *) echo "usage: $0 [build|run]" >&2; exit 2 ;;
esac

stage_builds() { [ "$stage_step" != run ]; }
stage_runs() { [ "$stage_step" != build ]; }

# stage_build DIR [cmake options...] -- TARGETS...: configures DIR quietly and
# builds only the targets the stage runs.
stage_build() {
  local dir=$1 options=() generator=()
  shift
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$stage_root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${options[@]}" >/dev/null
  cmake --build "$dir" -j2 --target "$@"
}

# The test programs a stage starts; each writes its own log in stage_logs.
suite_pids=()
suite_logs=()
stage_logs="$(mktemp -d)"
trap 'rm -rf "$stage_logs"' EXIT

# start_suite NAME SHARDS COMMAND...: starts COMMAND in the background, split
# into SHARDS GoogleTest shards that run side by side. The programs mostly wait
# on real time (sound played at its own pace, servers), so a suite in shards
# takes a fraction of its time and little more processor.
start_suite() {
  local name=$1 shards=$2 i log
  shift 2
  for ((i = 0; i < shards; i++)); do
    log="$stage_logs/$name.$i.log"
    (GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i exec "$@") >"$log" 2>&1 &
    suite_pids+=($!)
    suite_logs+=("$log")
  done
}

# wait_suites: waits for every started suite; prints a line for each shard and
# the end of the log of any that failed. Fails when one did.
wait_suites() {
  local status=0 k log summary
  for k in "${!suite_pids[@]}"; do
    log=${suite_logs[$k]}
    if wait "${suite_pids[$k]}"; then
      summary=$(grep -E '^\[==========\] [0-9]+ tests? from' "$log" | tail -n 1)
      echo "  $(basename "$log" .log): ${summary#\[==========\] }"
    else
      status=1
      echo "  $(basename "$log" .log): FAILED"
      tail -n 60 "$log"
    fi
  done
  suite_pids=()
  suite_logs=()
  return "$status"
}

# sanitizer_reported TEXT: true when any log of the stage holds TEXT; shows the
# first reports.
sanitizer_reported() {
  local found=1 log
  for log in "$stage_logs"/*.log; do
    [ -e "$log" ] || continue
    if grep -q "$1" "$log"; then
      echo "== $(basename "$log" .log)"
      grep -A40 "$1" "$log" | head -n 120
      found=0
    fi
  done
  return "$found"
}
