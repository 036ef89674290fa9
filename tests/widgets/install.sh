#!/usr/bin/env bash
# `cmake --install` into a temporary prefix gives a program directory from
# which kav starts, with its command, desktop entry and icons in the usual places.
# Usage: install.sh BUILDDIR
set -euo pipefail
build="$(cd "$1" && pwd)"
prefix="$(mktemp -d)"
kav_pid=""
cleanup() {
    [ -n "$kav_pid" ] && kill -KILL "$kav_pid" 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
program="$(dirname "$(readlink -f "$prefix/bin/kav")")"
case "$program" in "$prefix"/*) ;; *) fail "bin/kav leads outside the prefix: $program" ;; esac
for file in kav bass.dll basswma.dll in_mp3.dll in_wave.dll; do
    [ -f "$program/$file" ] || fail "$file is missing from the program directory $program"
done
for file in share/applications/kav.desktop share/icons/hicolor/scalable/apps/kav.svg \
    share/icons/hicolor/16x16/apps/kav.png share/icons/hicolor/256x256/apps/kav.png; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/kav.desktop" || fail "the desktop entry is not valid"
fi

# Started by its command from elsewhere, it runs from its program directory and
# writes its settings there when asked to close (only a window that was built
# writes them: without its audio library kav stops before).
(cd / && QT_QPA_PLATFORM=offscreen exec "$prefix/bin/kav") 2>"$prefix/kav.err" &
kav_pid=$!
for _ in $(seq 15); do
    kill -0 "$kav_pid" 2>/dev/null || { cat "$prefix/kav.err"; fail "kav ended by itself"; }
    sleep 0.1
done
kill -TERM "$kav_pid"
status=0
wait "$kav_pid" || status=$?
kav_pid=""
[ "$status" -eq 0 ] || { cat "$prefix/kav.err"; fail "kav ended with status $status"; }
[ -f "$program/kav.ini" ] || fail "no kav.ini written beside the installed program"
echo "PASS"
