#!/usr/bin/env bash
# Lists the include circles between units of the project's own code (tests
# aside) and fails when there is one. A unit is a header with the source file
# of the same name beside it; a source file without a header of its own
# belongs to the unit whose name begins its own (Unit1Layout.cpp to Unit1),
# else it stands alone. Unit A reaches unit B when a file of A includes a
# header of B; a circle is a set of units that all reach one another.
#
# It also fails on a folder arrow that runs upward: each folder has a floor
# (below), and a file may include a header of its own floor or a lower one
# only. Our plug-ins include nothing but the plug-in SDK's folder and their
# own. Folders not listed (tools, bench, fuzz) stand above everything.
#
#   tools/include-circles.sh [source root]   (default: the repository)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

files=$(find . -path ./.git -prune -o -path './build*' -prune -o -path ./tests -prune -o \
    -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) -print |
    sed 's#^\./##' | LC_ALL=C sort)
[ -n "$files" ] || { echo "no source files under $root" >&2; exit 2; }

# One line per quoted include: file, line number, the name as written.
includes() {
    xargs -d '\n' awk '/^[ \t]*#[ \t]*include[ \t]*"/ {
        split($0, q, "\""); print FILENAME "\t" FNR "\t" q[2] }' <<<"$files"
}

{ echo "$files"; echo "--"; includes; } | awk -F'\t' '
function dirof(p) { return p ~ /\// ? substr(p, 1, match(p, /\/[^\/]*$/) - 1) : "" }
function baseof(p) { sub(/^.*\//, "", p); return p }
function stemof(p) { p = baseof(p); sub(/\.[^.]*$/, "", p); return p }
function isheader(p) { return p ~ /\.(h|hpp)$/ }
# "a/./b/../c" as "a/c".
function tidy(p,    n, parts, kept, i, k) {
    n = split(p, parts, "/"); k = 0
    for (i = 1; i <= n; ++i) {
        if (parts[i] == "." || parts[i] == "") continue
        if (parts[i] == ".." && k > 0) { --k; continue }
        kept[++k] = parts[i]
    }
    p = ""
    for (i = 1; i <= k; ++i) p = p (i > 1 ? "/" : "") kept[i]
    return p
}
# Beside the including file, then from the root, then by a unique file name.
function resolve(from, name,    d, p) {
    d = dirof(from)
    p = tidy((d == "" ? "" : d "/") name); if (p in exists) return p
    p = tidy(name); if (p in exists) return p
    p = baseof(name); if (bybase[p] != "" && bybase[p] != "?") return bybase[p]
    return ""
}
# The folder an arrow is drawn from: two levels under app/, platform/ and
# winamp-plugins/, one elsewhere.
function folderof(p,    n, parts) {
    n = split(p, parts, "/")
    if (n == 1) return ""
    if (n > 2 && (parts[1] == "app" || parts[1] == "platform" || parts[1] == "winamp-plugins"))
        return parts[1] "/" parts[2]
    return parts[1]
}
function floorof(d) {
    if (d in floors) return floors[d]
    if (d ~ /^winamp-plugins/) return 2
    return 99
}
function upward(from, to,    a, b) {
    a = folderof(from); b = folderof(to)
    if (a == b) return 0
    if (a ~ /^winamp-plugins/) return !(b ~ /^winamp-plugins/ || b == "platform/winamp")
    return floorof(b) > floorof(a)
}
function unitof(f,    d, s, best, u, k) {
    d = dirof(f); s = stemof(f); best = ""
    for (k = length(s); k > 0 && best == ""; --k) {
        u = (d == "" ? "" : d "/") substr(s, 1, k)
        if (u in hasheader && (k == length(s) || !isheader(f))) best = u
    }
    return best != "" ? best : (d == "" ? "" : d "/") s
}
# Tarjan: every strongly connected set of units, in one pass.
function visit(v,    i, w) {
    index_[v] = low[v] = ++counter; stack[++top] = v; onstack[v] = 1
    for (i = 1; i <= nout[v]; ++i) {
        w = out[v, i]
        if (!(w in index_)) { visit(w); if (low[w] < low[v]) low[v] = low[w] }
        else if (onstack[w] && index_[w] < low[v]) low[v] = index_[w]
    }
    if (low[v] != index_[v]) return
    ++circle; size = 0
    do { w = stack[top--]; onstack[w] = 0; member[w] = circle; ++size } while (w != v)
    if (size < 2) { member[v] = 0; --circle } else circles[circle] = size
}
BEGIN {
    reading = "files"
    floors["app"] = 9; floors["app/window"] = 8
    floors["app/automation"] = floors["app/station"] = floors["app/nowplaying"] = 7
    floors["app/onair"] = 7; floors["app/lists"] = 6
    floors["engine"] = 5; floors["plugins"] = floors["widgets"] = 4
    floors["platform/bassbind"] = floors["fileinfo"] = 3
    floors["platform/bass"] = floors["platform/win"] = 2; floors["platform/winamp"] = 1
}
reading == "files" {
    if ($0 == "--") { reading = "includes"; next }
    exists[$0] = 1
    b = baseof($0); bybase[b] = (b in bybase) ? "?" : $0
    if (isheader($0)) hasheader[(dirof($0) == "" ? "" : dirof($0) "/") stemof($0)] = 1
    next
}
{
    target = resolve($1, $3)
    if (target == "") next
    if (upward($1, target)) up[++nup] = $1 ":" $2 " includes " $3 " (" folderof(target) ")"
    a = unitof($1); b = unitof(target)
    if (a == b) next
    units[a] = units[b] = 1
    if (!((a, b) in edge)) { edge[a, b] = $1 ":" $2 " includes " $3; out[a, ++nout[a]] = b }
}
END {
    for (u in exists) units[unitof(u)] = 1
    for (u in units) if (!(u in index_)) visit(u)
    n = 0; for (u in units) ++n
    if (nup > 0) {
        print "0\t0\tfolder arrows that run upward:"
        for (i = 1; i <= nup; ++i) print "0\t" i "\t  " up[i]
    }
    if (circle == 0 && nup == 0) { print "no include circles among " n " units, no arrow upward"; exit 0 }
    if (circle == 0) exit 1
    for (c = 1; c <= circle; ++c) {
        print c "\t0\tinclude circle of " circles[c] " units:"
        for (key in edge) {
            split(key, ab, SUBSEP)
            if (member[ab[1]] == c && member[ab[2]] == c) print c "\t1\t  " edge[key]
        }
    }
    exit 1
}' | LC_ALL=C sort -t "$(printf '\t')" -k1,1n -k2,2n -k3 | cut -f3-
