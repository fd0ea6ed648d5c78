#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures how long the UI thread stalls to show a description file of a given size in the
# real description pane, and picks the largest size whose stall stays under a bound: the
# candidate for Description::kMaxDescriptionBytes.
#
#   bench/description-bench.sh [BUILD_DIR] [ROUNDS]
#
# BUILD_DIR defaults to build-flbench beside this folder, ROUNDS to 9. Builds nothing: it needs
# gui_description from BUILD_DIR/bench. Its files live in a temporary folder it removes itself.
# QUARROW_STALL_MS (default 200) is the bound, on both the median and the maximum.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-flbench}
rounds=${2:-9}
bound=${QUARROW_STALL_MS:-200}
export QT_QPA_PLATFORM=offscreen

tool=$build/bench/gui_description
if [[ ! -x $tool ]]; then
    echo "missing $tool; build it first:" >&2
    echo "  cmake -S $here -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TESTS=OFF" >&2
    echo "  cmake --build $build --target gui_description" >&2
    exit 2
fi
if ! [[ $rounds =~ ^[1-9][0-9]*$ ]]; then
    echo "ROUNDS must be a positive number" >&2
    exit 2
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    # Qt warns on every start without one.
    export XDG_RUNTIME_DIR=$tmp/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

# run NAME ARGS...: one gui_description process; its lines go to NAME.
run() {
    local name=$1
    shift
    if ! "$tool" --rounds "$rounds" "$@" >"$tmp/$name" 2>"$tmp/err"; then
        echo "failed: gui_description $*" >&2
        cat "$tmp/$name" "$tmp/err" >&2
        exit 1
    fi
}

# table FILE...: one row per size and path.
table() {
    printf '  %8s %-7s %-6s %9s %9s %9s %9s   %7s %7s %7s %7s\n' MiB text path "median" min max \
        "CPU med" read convert set paint
    awk '{ for (i = 2; i < NF; i += 2) v[$i] = $(i + 1)
           text = v["line-chars"] == 0 ? v["encoding"] : v["line-chars"] "-char"
           printf "  %8s %-7s %-6s %9s %9s %9s %9s   %7s %7s %7s %7s\n", v["mib"], text,
                  v["path"], v["median-ms"], v["min-ms"], v["max-ms"], v["cpu-median-ms"],
                  v["path"] == "direct" ? v["read-ms"] : "", v["path"] == "direct" ? v["convert-ms"] : "",
                  v["path"] == "direct" ? v["set-ms"] : "", v["path"] == "direct" ? v["paint-ms"] : "" }' "$@"
}

# largest FILE...: the largest size every smaller size included stays under the bound with,
# median and maximum, on every path and text measured; 0 when even the smallest does not.
largest() {
    awk -v bound="$bound" '{ for (i = 2; i < NF; i += 2) v[$i] = $(i + 1)
                             print v["mib"], (v["median-ms"] + 0 >= bound || v["max-ms"] + 0 >= bound) }' "$@" |
        sort -g -k1,1 | awk '{ if ($2) bad[$1] = 1; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
                             END { best = 0
                                   for (k = 1; k <= n; ++k) { if (order[k] in bad) break; best = order[k] }
                                   print best }'
}

read -r load1 _ </proc/loadavg
echo "load average at start: $load1 on $(nproc) cores"
echo "bound on the stall: $bound ms (median and maximum); $rounds rounds per size and path"
echo "direct = Build, ForDisplay, setPlainText, layout and paint; select = the tree selection"
echo "(OnSelChangedTree), only within the program's present cap; stages are medians in ms"

echo
echo "== lines of about 80 characters, one in four with non-ASCII letters"
run utf8 --sizes 0.5,1,2,3,4,6,8 --encoding utf8
run cp1252 --sizes 0.5,1,2,3,4,6,8 --encoding cp1252
table "$tmp/utf8" "$tmp/cp1252"
cap=$(largest "$tmp/utf8" "$tmp/cp1252")
echo
if awk -v c="$cap" 'BEGIN { exit !(c >= 1) }'; then
    echo "  cap: $cap MiB ($(awk -v c="$cap" 'BEGIN { printf "%d", c * 1048576 }') bytes)," \
        "the largest size whose stall stays under $bound ms"
else
    echo "  no size of at least 1 MiB stays under $bound ms (largest: $cap MiB)"
fi

echo
echo "== lines of one character: the pane's cost follows the lines, not the bytes"
run short --sizes 0.0625,0.125,0.25,0.5,1 --line-chars 1
table "$tmp/short"
short=$(largest "$tmp/short")
echo "  under $bound ms up to $short MiB of one-character lines" \
    "($(awk -v c="$short" 'BEGIN { printf "%d", c * 1048576 / 3 }') lines)"
