#!/usr/bin/env bash
# KAV installed by `cmake --install` and run by an ordinary user (root drops
# to nobody) whose program directory is read-only: the data folder under
# XDG_CONFIG_HOME is made, seeded from the program directory, and receives
# kav.ini and both lists with the changes made; the program directory stays
# as it was; no box appears; the as-run log is there for the installed
# kavreport. The tools are installed and run, and the user unit passes
# systemd-analyze verify.
# Usage: install-user.sh BUILDDIR
set -euo pipefail
build="$(cd "$1" && pwd)"
prefix="$(mktemp -d)"
home="$(mktemp -d)"
kav_pid=""
cleanup() {
    [ -n "$kav_pid" ] && kill -KILL "$kav_pid" 2>/dev/null || true
    chmod -R u+w "$prefix" 2>/dev/null || true
    rm -rf "$prefix" "$home"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    [ -f "$home/kav.err" ] && cat "$home/kav.err"
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
chmod 755 "$prefix" "$home"
program="$(dirname "$(readlink -f "$prefix/bin/kav")")"

# The tools: kavinfo reads a file, basstool lists the devices, kavplay plays.
tone="$prefix/a.wav"
sox -n -r 44100 -c 2 -b 16 "$tone" synth 1 sine 500 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$prefix/b.wav" synth 20 sine 700 vol 0.5
chmod 644 "$tone" "$prefix/b.wav"
"$prefix/bin/kavinfo" "$tone" | grep -q "^TWAVfile\." || fail "kavinfo does not read a WAV file"
null="$("$prefix/bin/basstool" devices | grep -c .)" || fail "basstool lists no device"
QT_QPA_PLATFORM=offscreen "$prefix/bin/kavplay" --null --max 1 "$tone" >/dev/null ||
    fail "kavplay does not play from its installed place"

# The user unit and the desktop entry name the installed program.
unit="$prefix/lib/systemd/user/kav.service"
grep -qx "ExecStart=$prefix/bin/kav --headless --play" "$unit" || fail "ExecStart in $unit"
grep -qx "Exec=$prefix/bin/kav" "$prefix/share/applications/kav.desktop" || fail "Exec"
if command -v systemd-analyze >/dev/null; then
    runtime="$(mktemp -d)"
    XDG_RUNTIME_DIR="$runtime" systemd-analyze --user verify "$unit" ||
        fail "systemd-analyze does not accept the unit"
    rm -rf "$runtime"
fi

# Starting copies in the program directory, which nobody may write then.
cat >"$program/kav.ini" <<INI
[varios]
dev=$null
pln=0
repetepl=0
[meu]
chave=valor
INI
printf '%s\n%s\n' "$tone" "$prefix/b.wav" >"$program/pl.m3u"
printf '/j/noticias.mp3\n' >"$program/prgm.m3u"
chmod -R a-w "$program"
before="$(cd "$program" && ls -la --time-style=full-iso && md5sum kav.ini pl.m3u prgm.m3u)"

run=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$home"
    run=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
config="$home/cfg"
(cd / && exec env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$config" \
    QT_QPA_PLATFORM=offscreen "${run[@]}" "$prefix/bin/kav" --play) 2>"$home/kav.err" &
kav_pid=$!
data="$config/kav"
# Row 1 plays a second, then row 2: the playing row reaches the data folder.
for _ in $(seq 300); do
    kill -0 "$kav_pid" 2>/dev/null || fail "kav ended by itself"
    grep -qs "^pln=2" "$data/kav.ini" && break
    sleep 0.1
done
grep -qs "^pln=2" "$data/kav.ini" || fail "the playing row did not reach $data/kav.ini"
kill -TERM "$kav_pid"
status=0
wait "$kav_pid" || status=$?
kav_pid=""
[ "$status" -eq 0 ] || fail "kav ended with status $status"

grep -q "pasta de dados $data" "$home/kav.err" || fail "the data folder is not told at start"
! grep -Eq '^\[(KAV|Error|Confirm)\]' "$home/kav.err" || fail "a box appeared"
grep -q "^chave=valor" "$data/kav.ini" || fail "kav.ini was not seeded from the program directory"
grep -q "^ficheiro=$prefix/b.wav" "$data/kav.ini" || fail "[estacao] ficheiro is not kept"
grep -q "^autoplay=0" "$data/kav.ini" || fail "[estacao] autoplay is not kept"
[ "$(head -n 1 "$data/pl.m3u")" = $'#EXTM3U\r' ] || fail "pl.m3u was not written"
grep -q "$prefix/b.wav" "$data/pl.m3u" || fail "pl.m3u lost its rows"
grep -q "^#KAVINF:--:--:--" "$data/prgm.m3u" || fail "prgm.m3u was not written"
[ -f "$data/estado.ini" ] || fail "no state in the data folder"
# The as-run log in the data folder, read by the installed kavreport as the
# program's user, from the data folder it finds by itself.
ls "$data"/emissao/*.csv >/dev/null 2>&1 || fail "no as-run log in $data/emissao"
grep -q '"estado": "parado"' "$data/agora.json" || fail "agora.json does not say it stopped"
report="$(cd / && env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$config" \
    "${run[@]}" "$prefix/bin/kavreport" --csv --music-only)" || fail "kavreport did not run"
grep -q "^,a.wav,1," <<<"$report" || fail "kavreport does not count a.wav: $report"
after="$(cd "$program" && ls -la --time-style=full-iso && md5sum kav.ini pl.m3u prgm.m3u)"
[ "$before" = "$after" ] || fail "the program directory changed"

# A data folder that cannot be made (its parent is a file) is reported once,
# in a box that does not wait, and the program runs on.
: >"$home/file"
(cd / && exec env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$home/file/cfg" \
    QT_QPA_PLATFORM=offscreen "${run[@]}" "$prefix/bin/kav") 2>"$home/kav.err" &
kav_pid=$!
for _ in $(seq 100); do
    grep -qs '^\[KAV\]' "$home/kav.err" && break
    sleep 0.1
done
sleep 1.5  # the checks of the files that follow
kill -0 "$kav_pid" 2>/dev/null || fail "kav ended by itself"
[ "$(grep -c '^\[KAV\]' "$home/kav.err")" -eq 1 ] || fail "not reported once"
kill -TERM "$kav_pid"
wait "$kav_pid" || true
kav_pid=""
echo "PASS"
