#!/usr/bin/env bash
# kavplay end to end on the null output: a tagged MP3 plays to its end and
# prints its information and the play-end event; a refused file gives status 1;
# bad usage gives status 2.
set -euo pipefail
kavplay="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

sox -n -r 44100 -c 2 -b 16 "$dir/tone.wav" synth 0.4 sine 440 vol 0.3
lame --quiet -b 128 --tt "Script Title" --ta "Script Artist" "$dir/tone.wav" "$dir/tone.mp3"
cp "$dir/tone.wav" "$dir/tone.flac"

out="$(timeout 20 "$kavplay" --null "$dir/tone.mp3")"
echo "$out"
grep -qx "open: $dir/tone.mp3" <<<"$out"
grep -qx "  Title=Script Title" <<<"$out"
grep -qx "  Artist=Script Artist" <<<"$out"
grep -q "SampleRate=44100 BitRate=128 " <<<"$out"
grep -q "^event: PlayEnd position=" <<<"$out"
grep -qx "path: plug-in in_mp3.dll" <<<"$out"
grep -q "^event: PluginStartPlay bits=16 bitrate=128 rate=44100 channels=2" <<<"$out"

out="$(timeout 20 "$kavplay" --null --library "$dir/tone.mp3" "$dir/tone.wav")"
echo "$out"
[ "$(grep -c "^path: library$" <<<"$out")" -eq 2 ] || { echo "--library: not the library"; exit 1; }
[ "$(grep -c "^event: PlayEnd" <<<"$out")" -eq 2 ] || { echo "--library: no two ends"; exit 1; }

out="$(timeout 20 "$kavplay" --null "$dir/tone.wav")"
grep -qx "path: plug-in in_wave.dll" <<<"$out"
grep -q "^event: PlayEnd position=" <<<"$out"

status=0
out="$(timeout 20 "$kavplay" --null --info "$dir/tone.flac")" || status=$?
[ "$status" -eq 1 ] || { echo "refused file: status $status"; exit 1; }
grep -qx "open failed" <<<"$out"

status=0
"$kavplay" --bogus >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "bad usage: status $status"; exit 1; }
echo "kavplay: all checks passed"
