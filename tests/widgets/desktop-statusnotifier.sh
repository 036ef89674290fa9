#!/usr/bin/env bash
# The program's icon on a StatusNotifierItem host: a private session bus with
# a watcher of the tests' own, the program on Xvfb with a window manager.
# Usage: desktop-statusnotifier.sh BINDIR TESTSDIR
set -euo pipefail
if [ -z "${KAV_PRIVATE_BUS:-}" ]; then
    command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
    exec env KAV_PRIVATE_BUS=1 dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/desktop-common.sh"
need Xvfb openbox xdotool xprop xwininfo dbus-send
bin="$(cd "$1" && pwd)"
watcher_bin="$2/sni_watcher"

start_watcher() {
    "$watcher_bin" >"$work/watcher.out" 2>&1 &
    watcher_pid=$!
    pids+=($watcher_pid)
    wait_for "the watcher on the bus" dbus-send --session --print-reply --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.GetNameOwner string:org.kde.StatusNotifierWatcher
}
# The first item the watcher holds.
registered_item() {
    local reply
    reply="$(dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
        /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems)"
    reply="$(grep -o 'string "[^"]*"' <<<"$reply" | sed -n '1s/^string "\(.*\)"$/\1/p')"
    [ -n "$reply" ] && echo "$reply"
}
item_property() {
    dbus-send --session --print-reply --dest="$item" /StatusNotifierItem \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem "string:$1"
}

start_x
start_watcher
start_kav "$bin"

echo "- the program's icon registers with the watcher"
wait_for "an item registered" registered_item
# A service name, or a connection's name and the object's path.
item="$(registered_item)"
item="${item%%/*}"

echo "- its tool tip reads KAV and its picture is given as pixels"
tip="$(item_property ToolTip)"
grep -q 'string "KAV"' <<<"$tip" || fail "tool tip: $tip"
name="$(item_property IconName)"
grep -q 'string ""' <<<"$name" || fail "icon by name: $name"
pixels="$(item_property IconPixmap)"
grep -q 'int32 32' <<<"$pixels" || fail "no 32-pixel picture in IconPixmap"

echo "- minimising hides the window; activating the item brings it back"
xdotool windowminimize "$main_window"
wait_for "the window hidden" hidden
dbus-send --session --print-reply --dest="$item" /StatusNotifierItem org.kde.StatusNotifierItem.Activate \
    int32:0 int32:0 >/dev/null
wait_for "the window shown again" normal

echo "- the watcher goes away while the window is hidden: the window comes back minimised"
xdotool windowminimize "$main_window"
wait_for "the window hidden" hidden
kill "$watcher_pid"
wait "$watcher_pid" 2>/dev/null || true
wait_for "the window back in the task list" managed

echo "- the watcher restarts: the icon registers again"
start_watcher
wait_for "the item registered again" registered_item

kill -TERM "$kav_pid"
wait "$kav_pid" || fail "kav did not end cleanly after SIGTERM"
echo "PASS"
