#!/usr/bin/env bash
# Takes docs/kavvis.png: kavvis beside the main window, under Xvfb, while kav
# plays a few seconds of tones and noise from its programme list.
# Usage: docs/vis-screenshot.sh [build-dir]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-$root/build}/bin"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$bin/kav" "$bin/kavvis" "$bin/basstool" "$bin"/*.dll "$work/"

sox -n -r 44100 -c 1 -b 16 "$work/left.wav" synth 30 pinknoise vol 0.15 \
  synth 30 sine mix 220 synth 30 sine mix 660 synth 30 sine mix 2640
sox -n -r 44100 -c 1 -b 16 "$work/right.wav" synth 30 brownnoise vol 0.2 \
  synth 30 sine mix 330 synth 30 sine mix 1320 synth 30 sine mix 5280
sox -M "$work/left.wav" "$work/right.wav" "$work/Sinais de teste.wav"
device="$("$work/basstool" devices | grep -i null | cut -d: -f1)"
cat > "$work/pl.m3u" <<'LIST'
#EXTM3U
/srv/musica/Pop/Ana Moura - Desfado.mp3
/srv/musica/Fado/Amália - Barco Negro.mp3
/srv/musica/Jazz/Maria João - Cem Caminhos.mp3
LIST
printf '#EXTM3U\r\n#KAVINF:%s\r\n%s\r\n' "$(date -d '+3 seconds' +%H:%M:%S)" \
  "$work/Sinais de teste.wav" > "$work/prgm.m3u"
printf '[varios]\r\ndev=%s\r\nvolume=200\r\npln=0\r\n' "$device" > "$work/kav.ini"

cd "$work"
export KAV_IPC_SCOPE="screenshot-$$"
xvfb-run -a -s "-screen 0 1400x600x24" bash -c '
  ./kav -geometry 860x600+0+0 & kav=$!
  ./kavvis -geometry 530x600+870+0 & vis=$!
  sleep 7
  import -window root shot.png
  kill -TERM $vis $kav
  wait $kav || true'
cd "$root"
convert "$work/shot.png" -strip -colors 128 "$root/docs/kavvis.png"
echo "wrote $root/docs/kavvis.png"
