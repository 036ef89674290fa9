#!/usr/bin/env bash
# Every C and C++ file of the repository as the repository's .clang-format
# lays it out: fails, naming the files, when clang-format would change one.
set -euo pipefail
[ "${1:-all}" = build ] && exit 0  # nothing to build
cd "$(dirname "$0")/../.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' '*.hpp' 2>/dev/null ||
  find . -path ./build\* -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print)
report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1) && status=0 || status=$?
if [ "$status" -ne 0 ]; then
  echo "clang-format would change:" >&2
  grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /' >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format lays them out"
