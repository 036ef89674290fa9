#!/usr/bin/env bash
# Takes docs/onair.png: the "Transmissão" dialog of the built program under
# Xvfb, with two outputs set up in a temporary copy of the program directory
# (the first to a port where no server listens, so that its state line shows
# an error; the second turned off).
# Usage: docs/onair-screenshot.sh [build-dir]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-$root/build}/bin"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$bin/." "$work/"
rm -f "$work/kav.ini" "$work/pl.m3u" "$work/prgm.m3u"
cat > "$work/kav.ini" <<'INI'
[varios]
volume=200
[transmissao1]
servidor=127.0.0.1
porta=1
ponto=/kav.mp3
senha=segredo
formato=mp3
kbps=128
nome=Rádio da Escola
genero=Variado
descricao=A emissão da escola, dia e noite
url=http://radio.example/
[transmissao2]
ativo=0
servidor=radio.example
porta=8000
ponto=/kav.opus
formato=opus
kbps=96
INI

cd "$work"
xvfb-run -a -s "-screen 0 960x600x24" bash -c '
  ./kav -geometry 960x600+0+0 & pid=$!
  sleep 4
  # "Opções", then its last item, "Transmissão...".
  xdotool mousemove 75 10 click 1
  sleep 0.5
  xdotool key Up Return
  sleep 3
  import -window "$(xdotool search --name "^Transmissão\$" | tail -1)" onair.png
  xdotool key Escape
  kill -TERM $pid
  wait $pid || true'
cd "$root"
convert "$work/onair.png" -strip -colors 64 "$root/docs/onair.png"
echo "wrote $root/docs/onair.png"
