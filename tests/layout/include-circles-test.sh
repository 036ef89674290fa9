#!/usr/bin/env bash
# tools/include-circles.sh on small trees made here: each case gives the files
# (name and the quoted includes each holds) and whether a circle is to be found.
set -euo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/tools/include-circles.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check NAME EXPECTED-STATUS FILE:INCLUDE,INCLUDE ...
check() {
    local name=$1 expected=$2 tree="$work/$1" entry file includes
    shift 2
    for entry in "$@"; do
        file=${entry%%:*} includes=${entry#*:}
        mkdir -p "$tree/$(dirname "$file")"
        : >"$tree/$file"
        IFS=, read -ra names <<<"$includes"
        for n in "${names[@]}"; do [ -n "$n" ] && echo "#include \"$n\"" >>"$tree/$file"; done
    done
    local status=0 output
    output=$(bash "$script" "$tree") || status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "FAIL $name: status $status, expected $expected"$'\n'"$output"
        failures=$((failures + 1))
    fi
}

# Headers alone, a header with its source, a chain down three folders.
check chain 0 a/A.h:b/B.h a/A.cpp:A.h,c/C.h b/B.h:c/C.h b/B.cpp:B.h c/C.h: c/C.cpp:C.h
# Two sources that include each other's header: the units meet.
check sources 1 A.h: A.cpp:A.h,B.h B.h: B.cpp:B.h,A.h
# Through a third unit, named from the root by one and beside it by another.
check three 1 x/A.h:x/B.h x/B.h: x/B.cpp:C.h x/C.h: x/C.cpp:A.h
# A source without a header of its own belongs to the unit its name begins with.
check prefix 1 w/Unit1.h: w/Unit1Tick.cpp:Unit1.h,s/Sched.h s/Sched.h: s/Sched.cpp:w/Unit1.h
# One that begins no unit's name stands alone: nobody includes it.
check alone 0 m/Main.cpp:m/Lib.h m/Lib.h: m/Lib.cpp:m/Lib.h
# Tests are not looked at.
check tests 0 A.h: A.cpp:tests/T.h tests/T.h:A.h
# Folder arrows: downward passes, upward fails (the bindings in engine/, used
# by plugins/, were one), and a plug-in of ours reaches only the SDK's folder.
check down 0 engine/E.h: engine/E.cpp:E.h,plugins/P.h plugins/P.h: plugins/P.cpp:P.h
check up 1 engine/Bind.h: engine/Bind.cpp:Bind.h plugins/P.h: plugins/P.cpp:P.h,engine/Bind.h
check up_within_app 1 app/window/Unit1.h: app/lists/Paths.h: app/lists/Paths.cpp:app/window/Unit1.h
check plugin_sdk 0 platform/winamp/In_Module.h: winamp-plugins/in_x/X.cpp:platform/winamp/In_Module.h
check plugin_platform 1 platform/win/Dll.h: winamp-plugins/in_x/X.cpp:platform/win/Dll.h
check tools_above 0 engine/E.h: tools/t/t.cpp:engine/E.h

[ "$failures" -eq 0 ] && echo "include-circles: every case as expected"
exit $((failures > 0))
