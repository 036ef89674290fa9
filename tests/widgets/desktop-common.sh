# Shared by the desktop tests: an X server of their own with a window manager,
# the built program in a fresh program directory, and bounded waits.
# Every process started here is ended on exit.

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
}

pids=()
work="$(mktemp -d)"
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# wait_for DESCRIPTION COMMAND...: polls for up to 30 s (the program's start
# on a machine busy with other tests can take several seconds).
wait_for() {
    local what="$1"
    shift
    for _ in $(seq 300); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    cat "$work/kav.err"; fail "timed out waiting for: $what"
}

start_x() {
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
    pids+=($!)
    wait_for "the X server" test -s "$work/display"
    export DISPLAY=":$(head -1 "$work/display")"
    openbox >/dev/null 2>&1 &
    pids+=($!)
    wait_for "the window manager" xprop -root _NET_SUPPORTING_WM_CHECK
}

# start_kav BINDIR: the program on the X server; sets kav_pid and main_window.
start_kav() {
    mkdir -p "$work/program"
    cp -r "$1/." "$work/program/"
    rm -f "$work/program/kav.ini" "$work/program/pl.m3u" "$work/program/prgm.m3u"
    QT_QPA_PLATFORM=xcb "$work/program/kav" 2>"$work/kav.err" &
    kav_pid=$!
    pids+=($kav_pid)
    wait_for "the main window" find_main_window
    main_window="$(find_main_window)"
}

# The window manager's client titled KAV.
find_main_window() {
    local id
    for id in $(xprop -root _NET_CLIENT_LIST | grep -o '0x[0-9a-f]*'); do
        xprop -id "$id" WM_NAME 2>/dev/null | grep -q '"KAV"' && { echo "$id"; return 0; }
    done
    return 1
}

managed() { xprop -root _NET_CLIENT_LIST | grep -qw "$main_window"; }
iconic() { xprop -id "$main_window" WM_STATE | grep -q 'Iconic'; }
normal() { managed && xprop -id "$main_window" WM_STATE | grep -q 'Normal'; }
hidden() { ! managed && xwininfo -id "$main_window" | grep -q IsUnMapped; }
