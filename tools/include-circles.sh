#!/usr/bin/env bash
# Lists the include circles between units of the project's own code (tests
# aside) and fails when there is one. A unit is a header with the source file
# of the same name beside it; a source file without a header of its own
# belongs to the unit whose name begins its own (Unit1Layout.cpp to Unit1),
# else it stands alone. Unit A reaches unit B when a file of A includes a
# header of B; a circle is a set of units that all reach one another.
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
BEGIN { reading = "files" }
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
    a = unitof($1); b = unitof(target)
    if (a == b) next
    units[a] = units[b] = 1
    if (!((a, b) in edge)) { edge[a, b] = $1 ":" $2 " includes " $3; out[a, ++nout[a]] = b }
}
END {
    for (u in exists) units[unitof(u)] = 1
    for (u in units) if (!(u in index_)) visit(u)
    n = 0; for (u in units) ++n
    if (circle == 0) { print "no include circles among " n " units"; exit 0 }
    for (c = 1; c <= circle; ++c) {
        print c "\t0\tinclude circle of " circles[c] " units:"
        for (key in edge) {
            split(key, ab, SUBSEP)
            if (member[ab[1]] == c && member[ab[2]] == c) print c "\t1\t  " edge[key]
        }
    }
    exit 1
}' | LC_ALL=C sort -t "$(printf '\t')" -k1,1n -k2,2n -k3 | cut -f3-
