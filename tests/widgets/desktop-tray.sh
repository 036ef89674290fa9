#!/usr/bin/env bash
# The program on a real X server with a window manager and an XEmbed tray
# host (trayer), driven as a person would with xdotool.
# Usage: desktop-tray.sh BINDIR
set -euo pipefail
source "$(dirname "$0")/desktop-common.sh"
need Xvfb openbox trayer xdotool xprop xwininfo
bin="$(cd "$1" && pwd)"

# The icon's window, embedded in the tray's panel.
tray_icon() {
    local panel
    panel="$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}')"
    [ -n "$panel" ] || return 1
    xwininfo -id "$panel" -tree | awk '/\("kav" "KAV"\)/ {print $1; found=1; exit} END {exit !found}'
}
start_tray() {
    trayer --edge top --align right --widthtype request --height 24 --transparent false \
        --SetDockType true >/dev/null 2>&1 &
    tray_pid=$!
    pids+=($tray_pid)
}

start_x
start_kav "$bin"

echo "- no tray host: minimising leaves the window reachable"
xdotool windowminimize "$main_window"
wait_for "the window minimised" iconic
sleep 0.5
managed || fail "the window was hidden although no tray could bring it back"
iconic || fail "the window left the minimised state by itself"
xdotool windowactivate "$main_window"
wait_for "the window restored" normal

echo "- a tray host starts: the icon appears in it"
start_tray
wait_for "the icon in the tray" tray_icon

echo "- minimising hides the window and its taskbar entry; the icon stays"
xdotool windowminimize "$main_window"
wait_for "the window hidden" hidden
icon="$(tray_icon)" || fail "the icon left the tray"

echo "- a double click on the icon shows the window again"
xdotool mousemove --window "$icon" 10 10 click --repeat 2 --delay 60 1
wait_for "the window shown again" normal
xwininfo -id "$main_window" | grep -q IsViewable || fail "the window is not viewable"

echo "- the tray host goes away while the window is hidden: the window comes back minimised"
xdotool windowminimize "$main_window"
wait_for "the window hidden" hidden
kill "$tray_pid"
wait "$tray_pid" 2>/dev/null || true
wait_for "the window back in the task list" managed
xdotool windowactivate "$main_window"
wait_for "the window restored" normal

echo "- the tray host restarts: the icon comes back"
start_tray
wait_for "the icon back in the new tray" tray_icon
xdotool windowminimize "$main_window"
wait_for "the window hidden in the new tray" hidden

kill -TERM "$kav_pid"
wait "$kav_pid" || fail "kav did not end cleanly after SIGTERM"
echo "PASS"
