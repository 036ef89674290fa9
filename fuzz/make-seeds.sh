#!/usr/bin/env bash
# Regenerates the readers' seed corpus in fuzz/corpus/ from tiny encoded files
# (a fraction of a second each, a few KB at most).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

sox -n -r 8000 -c 1 -b 16 tone.wav synth 0.25 sine 440
sox -n -r 22050 -c 2 -b 16 stereo.wav synth 0.02 sine 330
lame --quiet -b 8 --add-id3v2 --tt "Seed Title" --ta "Seed Artist" --tl "Seed Album" \
  --ty 2001 --tc "seed comment" --tn 3/9 --tg Rock tone.wav cbr_tags.mp3
lame --quiet -V 9 --id3v2-only --tt "VBR seed" tone.wav vbr_xing.mp3
lame --quiet -b 32 --id3v1-only --tt "v1 only" --tn 7 stereo.wav v1_only.mp3
oggenc --quiet -q -1 -t "Seed Title" -a "Seed Artist" -l "Seed Album" -N 4/10 -d 2002 \
  -G Jazz -c "COMMENT=seed" -o tags.ogg tone.wav
ffmpeg -loglevel error -y -i tone.wav -c:a wmav2 -b:a 32k -metadata title="Seed Title" \
  -metadata artist="Seed Artist" -metadata album="Seed Album" -metadata track=5 tags.wma
head -c 4096 tags.wma > tags_head.wma

seed() {  # seed TARGET FILE...
  local target="$1"
  shift
  mkdir -p "$here/corpus/$target"
  cp "$@" "$here/corpus/$target/"
}
seed fuzz_id3v1 cbr_tags.mp3 v1_only.mp3
seed fuzz_id3v2 cbr_tags.mp3 vbr_xing.mp3
seed fuzz_mpegaudio cbr_tags.mp3 vbr_xing.mp3 v1_only.mp3
seed fuzz_oggvorbis tags.ogg
seed fuzz_wmafile tags_head.wma
seed fuzz_wavfile tone.wav stereo.wav
