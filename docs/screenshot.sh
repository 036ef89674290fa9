#!/usr/bin/env bash
# Takes docs/screenshot.png (the main window) and docs/about.png (the about
# box) from the built program under Xvfb, with a sample playlist and programme
# list in a temporary copy of the program directory.
# Usage: docs/screenshot.sh [build-dir]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-$root/build}/bin"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$bin/." "$work/"
rm -f "$work/kav.ini" "$work/pl.m3u" "$work/prgm.m3u"

cat > "$work/pl.m3u" <<'LIST'
#EXTM3U
/srv/musica/Pop/Ana Moura - Desfado.mp3
/srv/musica/Pop/Deolinda - Movimento Perpétuo.mp3
/srv/musica/Fado/Amália - Barco Negro.mp3
/srv/musica/Fado/Carlos do Carmo - Lisboa Menina e Moça.mp3
/srv/musica/Jazz/Maria João - Cem Caminhos.mp3
http://radio.example:8000/live.mp3
LIST
cat > "$work/prgm.m3u" <<'LIST'
#EXTM3U
#KAVINF:%h:00:00
/srv/jingles/noticias%h.mp3
#KAVINF:...
/srv/jingles/separador.mp3
#KAVINF:4
/srv/jingles/identificativo.mp3
#KAVINF:23:59:00!
/srv/jingles/fecho.mp3
LIST
printf '[varios]\r\nvolume=200\r\npln=2\r\n' > "$work/kav.ini"

# Without a window manager nothing maximises the window: give it the screen.
cd "$work"
xvfb-run -a -s "-screen 0 960x600x24" bash -c '
  ./kav -geometry 960x600+0+0 & pid=$!
  sleep 4
  import -window root shot.png
  # "Ajuda", then "Sobre...", where the menu bar puts them at this size.
  xdotool mousemove 192 10 click 1
  sleep 0.5
  xdotool mousemove 205 34 click 1
  sleep 1
  import -window "$(xdotool search --name "^Sobre\.\.\.\$" | tail -1)" about.png
  xdotool key Escape
  kill -TERM $pid
  wait $pid || true'
cd "$root"
convert "$work/shot.png" -strip -colors 64 "$root/docs/screenshot.png"
convert "$work/about.png" -strip -colors 64 "$root/docs/about.png"
echo "wrote $root/docs/screenshot.png and $root/docs/about.png"
