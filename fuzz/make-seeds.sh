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

# The network parsers: server responses, chunked and ICY bodies, a chained Ogg
# stream, metadata texts. The first byte of a split input chooses its pieces.
printf 'HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-br: 128\r\nicy-metaint: 16\r\n\r\nbody' \
  > http_icy.txt
printf 'ICY 200 OK\r\nicy-name:seed\r\nicy-metaint:8192\r\n\r\n' > icy.txt
printf 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n' > chunked_head.txt
printf 'HTTP/1.0 302 Found\nLocation: http://127.0.0.1/x\n\n' > redirect.txt
printf '\x23'"5;ext=1\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nTrailer: x\r\n\r\n" \
  > chunked.bin
printf '\x10\x00abcdefghijklmnop\x02StreamTitle='"'"'Seed - One'"'"';\0\0\0\0\0\0\0\0\0\0\0\0\0abcdefghijklmnop\x00' \
  > icy_blocks.bin
sox -n -r 8000 -c 1 -b 16 a.wav synth 0.05 sine 440
oggenc --quiet -q -1 -t "First" -a "Seed" -o a.ogg a.wav
oggenc --quiet -q -1 -t "Second" -a "Seed" -o b.ogg a.wav
{ printf '\x07'; cat a.ogg b.ogg; } > chain.bin
printf "StreamTitle='Artist - Title';StreamUrl='';" > title.txt
printf 'TITLE=Seed\0ARTIST=Band\0\0' > comments.bin
printf 'icy-br: 128' > icy_br.txt
seed fuzz_http_head http_icy.txt icy.txt chunked_head.txt redirect.txt
seed fuzz_chunked chunked.bin
seed fuzz_icy_meta icy_blocks.bin
seed fuzz_ogg_stream chain.bin
seed fuzz_stream_title title.txt comments.bin icy_br.txt

# Playlist links: the first byte chooses the parser (0 PLS, 1 M3U, 2 XSPF).
printf '\x00[playlist]\r\nNumberOfEntries=2\r\nFile1=http://127.0.0.1:8000/live\r\nTitle1=One\r\nFile2=../b/live?x=1\r\nTitle2=Two\r\nLength1=-1\r\nVersion=2\r\n' \
  > radio.pls
printf '\x01\xEF\xBB\xBF#EXTM3U\n#PLAYLIST:Radio\n#EXTINF:-1,Main\nhttps://[::1]:8443/live\n# note\r\n/relative/live\r\n' \
  > radio.m3u
printf '\x02<?xml version="1.0"?><playlist version="1" xmlns="http://xspf.org/ns/0/"><title>S &amp; C</title><trackList><track><location>http://a/live?x=1&amp;y=2</location><title>&#233;&#x263A;</title></track><track><location><![CDATA[//b/live]]></location></track></trackList></playlist>' \
  > radio.xspf
seed fuzz_playlist radio.pls radio.m3u radio.xspf
