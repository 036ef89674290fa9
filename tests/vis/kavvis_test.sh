#!/usr/bin/env bash
# kav plays a two-tone file from its programme list on the null output, and
# "kavvis --dump 30" attaches to it: 30 frames with the file's rate and each
# channel's tone in its strongest bin.
# Usage: kavvis_test.sh BIN-DIR
set -euo pipefail
bin="$1"
work="$(mktemp -d)"
kav_pid=""
cleanup() {
  [ -n "$kav_pid" ] && kill -TERM "$kav_pid" 2>/dev/null && wait "$kav_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen KAV_IPC_SCOPE="kavvis-test-$$"

if [ "$(date +%H%M%S)" -gt 235940 ]; then echo "too close to midnight"; exit 0; fi
cp "$bin/kav" "$bin"/*.dll "$work/"
# Bins of the 2048-point spectrum are 44100/2048 Hz apart: bin 50 left, bin 100 right.
sox -n -r 44100 -c 2 -b 16 "$work/tones.wav" synth 8 sine 1076.660156 sine 2153.320312 vol 0.5
device="$("$bin/basstool" devices | grep -i "null" | cut -d: -f1)"
start="$(date -d "+2 seconds" +%H:%M:%S)"
printf '[varios]\r\ndev=%s\r\nvolume=255\r\n' "$device" > "$work/kav.ini"
printf '#EXTM3U\r\n#KAVINF:%s\r\n%s\r\n' "$start" "$work/tones.wav" > "$work/prgm.m3u"

(cd "$work" && exec ./kav) >"$work/kav.log" 2>&1 &
kav_pid=$!
out="$(timeout 20 "$bin/kavvis" --dump 30)" || { echo "kavvis: status $?"; cat "$work/kav.log"; exit 1; }
echo "$out" | head -5
frames="$(grep -c '^frame ' <<<"$out")"
[ "$frames" -eq 30 ] || { echo "$frames frames"; exit 1; }
grep -q '^record 1 state=' <<<"$out" || { echo "no record 1"; exit 1; }
# Frames while the tone sounds (the first may come as it starts).
loud="$(grep '^frame ' <<<"$out" | grep -c 'rate=44100 channels=2 .* bin1=\(49\|50\|51\) bin2=\(99\|100\|101\) ')"
[ "$loud" -ge 25 ] || { echo "only $loud frames with the tones' bins"; exit 1; }
echo "kavvis: all checks passed"
