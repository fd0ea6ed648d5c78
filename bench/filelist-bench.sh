#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the file list of the real main window against find on the same flat folders, in the
# same run, with a warm cache, round-robin so that drift hits every command alike.
#
#   bench/filelist-bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-flbench beside this folder, RUNS to 7. Builds nothing: it needs
# gen_drive, run_timed and gui_filelist from BUILD_DIR/bench. The folders live under
# QUARROW_FLBENCH_DIR (default /tmp/quarrow-flbench) and are reused while the generator's
# arguments stay the same; delete that folder when done.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-flbench}
runs=${2:-7}
work=${QUARROW_FLBENCH_DIR:-/tmp/quarrow-flbench}
seed=${QUARROW_BENCH_SEED:-20240601}
export QT_QPA_PLATFORM=offscreen

bin=$build/bench
for tool in gen_drive run_timed gui_filelist; do
    if [[ ! -x $bin/$tool ]]; then
        echo "missing $bin/$tool; build it first:" >&2
        echo "  cmake -S $here -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TESTS=OFF" >&2
        echo "  cmake --build $build --target gen_drive run_timed gui_filelist" >&2
        exit 2
    fi
done
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "RUNS must be a positive number" >&2
    exit 2
fi

mkdir -p "$work"
# Qt warns on every start without one.
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
fi
# make_folder NAME GENERATOR ARGS...: the folder work/NAME, generated unless its arguments match.
make_folder() {
    local name=$1
    shift
    local folder=$work/$name stamp=$work/$name.args summary=$work/$name.summary
    if [[ -d $folder && -s $summary && -f $stamp && "$(<"$stamp")" == "$*" ]]; then
        echo "reusing $folder"
    else
        rm -rf "$folder" "$summary" "$stamp"
        echo "generating $folder"
        "$@" >"$summary"
        echo "$*" >"$stamp"
    fi
    cat "$summary"
}
make_folder flat100k "$bin/gen_drive" --flat "$work/flat100k" --seed "$seed" --files 100000 \
    --exe-every 10
make_folder flat200k "$bin/gen_drive" --flat "$work/flat200k" --seed "$seed" --files 200000 \
    --exe-every 10
make_folder programs100k "$bin/gui_filelist" --make-programs "$work/programs100k" \
    --files 100000 --exe-every 10

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The value that follows word in a "key value key value" line.
field() { awk -v key="$2" '{ for (i = 1; i < NF; ++i) if ($i == key) { print $(i + 1); exit } }' <<<"$1"; }
expected() { field "$(<"$work/$1.summary")" default-pattern; }

# time_find NAME FOLDER: one timed find, "WALL_NS CPU_NS" appended to NAME.
time_find() {
    "$bin/run_timed" "$tmp/ns" find "$2" -maxdepth 1 -type f >/dev/null
    cat "$tmp/ns" >>"$tmp/$1.ns"
}
# list NAME FOLDER [ARGS...]: one gui_filelist process of two rounds; the first listing of a
# process (it loads the MIME database and looks up the icon theme) goes to NAME-first, the
# second to NAME-again, each as "WALL_NS CPU_NS".
list() {
    local name=$1 folder=$2
    shift 2
    if ! "$bin/gui_filelist" "$folder" --rounds 2 --expect "$(expected "${folder##*/}")" "$@" \
        >"$tmp/out" 2>"$tmp/err"; then
        echo "failed: gui_filelist $folder" >&2
        cat "$tmp/out" "$tmp/err" >&2
        exit 1
    fi
    awk '$1 == "round" { for (i = 1; i < NF; ++i) { if ($i == "wall-ms") w = $(i + 1)
                                                    if ($i == "cpu-ms") c = $(i + 1) }
                         printf "%.0f %.0f\n", w * 1e6, c * 1e6 > ($2 == 1 ? f : a) }' \
        f="$tmp/$name-first.ns.new" a="$tmp/$name-again.ns.new" "$tmp/out"
    cat "$tmp/$name-first.ns.new" >>"$tmp/$name-first.ns"
    cat "$tmp/$name-again.ns.new" >>"$tmp/$name-again.ns"
    # The longest wait of an on-screen program row for its icon, and rows left without one.
    local last
    last=$(tail -n 1 "$tmp/out")
    echo "$(field "$last" icon-max-ms) $(field "$last" icon-missing)" >>"$tmp/$name.icons"
}
# icons NAME: the longest wait over all runs, and the most rows left without their icon.
icons() {
    awk '{ if ($1 > w) w = $1; if ($2 > m) m = $2 } END { printf "%.1f ms, %d missing", w, m }' \
        "$tmp/$1.icons"
}

# stats NAME COLUMN: median min max in ms of wall (column 1) or CPU time (column 2).
stats() {
    awk -v c="$2" '{ print $c }' "$tmp/$1.ns" | sort -n | awk '{ a[NR] = $1 / 1e6 }
        END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
              printf "%.1f %.1f %.1f\n", m, a[1], a[NR] }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "met" : "MISSED" }'; }
row() { printf '  %-44s %9s %9s %9s   %9s %9s %9s\n' "$@"; }
header() {
    row "" "wall ms" "" "" "CPU ms" "" ""
    row "command" median min max median min max
}
# shellcheck disable=SC2046
report() { row "$2" $(stats "$1" 1) $(stats "$1" 2); }
wall_median() { stats "$1" 1 | cut -d' ' -f1; }
cpu_median() { stats "$1" 2 | cut -d' ' -f1; }
# show_ratio LABEL A B TARGET: the ratio of the wall medians, and of the CPU medians; a
# TARGET of - sets none.
show_ratio() {
    local r target=""
    r=$(ratio "$(wall_median "$2")" "$(wall_median "$3")")
    [[ $4 != - ]] && target="target <= $4: $(verdict "$r" "$4")"
    printf '  %-52s %5s   %-22s (CPU medians: %s)\n' "$1" "$r" "$target" \
        "$(ratio "$(cpu_median "$2")" "$(cpu_median "$3")")"
}

read -r load1 _ </proc/loadavg
echo "load average at start: $load1 on $(nproc) cores"

echo
echo "== file list against find ($runs runs each, round-robin, warm cache)"
# Warm-up: one untimed pass of each.
for name in flat100k flat200k; do
    find "$work/$name" -maxdepth 1 -type f >/dev/null
    list warm "$work/$name"
done
for ((i = 0; i < runs; ++i)); do
    time_find find100k "$work/flat100k"
    list list100k "$work/flat100k"
    time_find find200k "$work/flat200k"
    list list200k "$work/flat200k"
done
header
report find100k "find 100k -maxdepth 1 -type f"
report list100k-first "listing 100k, first in its process"
report list100k-again "listing 100k, again"
report find200k "find 200k -maxdepth 1 -type f"
report list200k-first "listing 200k, first in its process"
report list200k-again "listing 200k, again"
echo "  rows listed: 100k $(expected flat100k), 200k $(expected flat200k)" \
    "(the five default patterns, one walk each)"
show_ratio "listing(100k) / find(100k), first listing" list100k-first find100k 1.0
show_ratio "listing(100k) / find(100k), again" list100k-again find100k 1.2
show_ratio "listing(200k) / listing(100k), first listing" list200k-first list100k-first 2.3
show_ratio "listing(200k) / listing(100k), again" list200k-again list100k-again 2.3
show_ratio "find(200k) / find(100k)" find200k find100k -

echo
echo "== where the time goes: the same folder (100k) through descriptors with other patterns"
echo "   (one process each, $runs rounds, medians of the rounds)"
printf '  %-44s %8s %9s %9s %9s   %9s\n' descriptor rows median min max "CPU med"
# A pattern that matches nothing costs one walk and no row.
printf '[showfiles]\r\nfile1=*.none\r\n' >"$tmp/walk1.brw"
printf '[showfiles]\r\nfile1=*.none\r\nfile2=*.nix\r\nfile3=*.nil\r\nfile4=*.nada\r\nfile5=*.zero\r\n' \
    >"$tmp/walk5.brw"
printf '[showfiles]\r\nfile1=*.exe\r\n' >"$tmp/exe.brw"
printf '[showfiles]\r\nfile1=*.txt\r\nfile2=*.zip\r\nfile3=*.me\r\nfile4=*.hlp\r\n' >"$tmp/other.brw"
for probe in "walk1 one walk, no rows (*.none)" "walk5 five walks, no rows" \
    "exe one walk, the programs (*.exe)" "other four walks, the rest of the defaults"; do
    name=${probe%% *}
    if ! "$bin/gui_filelist" "$work/flat100k" --rounds "$runs" --descriptor "$tmp/$name.brw" \
        >"$tmp/out" 2>"$tmp/err"; then
        echo "failed: gui_filelist --descriptor $name" >&2
        cat "$tmp/out" "$tmp/err" >&2
        exit 1
    fi
    line=$(tail -n 1 "$tmp/out")
    printf '  %-44s %8s %9s %9s %9s   %9s\n' "${probe#* }" "$(field "$line" rows)" \
        "$(field "$line" median-ms)" "$(field "$line" min-ms)" "$(field "$line" max-ms)" \
        "$(field "$line" cpu-median-ms)"
done

echo
echo "== programs with an icon each: 100k files, 10k programs ($runs runs each, round-robin)"
find "$work/programs100k" -maxdepth 1 -type f >/dev/null
list warm "$work/programs100k"
for ((i = 0; i < runs; ++i)); do
    time_find findprog "$work/programs100k"
    list listprog "$work/programs100k"
done
header
report findprog "find -maxdepth 1 -type f"
report listprog-first "listing, first in its process"
report listprog-again "listing, again"
show_ratio "listing(programs) / find(programs), again" listprog-again findprog 1.2
show_ratio "listing(programs) / listing(100k), again" listprog-again list100k-again -
echo "  on-screen program icons, longest after their row: $(icons listprog) (target <= 100 ms)"

echo
echo "== the UI thread's share, and leaving the application: RemoveExeIcons() alone, then the"
echo "   selection change that empties the list ($runs rounds in one process; medians, min-max)"
printf '  %-13s %7s %7s %9s %9s   %-20s %-20s\n' folder rows images "listing" "UI CPU" \
    "RemoveExeIcons() ms" "selection change ms"
for name in flat100k flat200k programs100k; do
    if ! "$bin/gui_filelist" "$work/$name" --rounds "$runs" --select-cost \
        --expect "$(expected "$name")" >"$tmp/out" 2>"$tmp/err"; then
        echo "failed: gui_filelist $work/$name --select-cost" >&2
        cat "$tmp/out" "$tmp/err" >&2
        exit 1
    fi
    line=$(tail -n 1 "$tmp/out")
    spread() { echo "$(field "$line" "$1-median-ms") ($(field "$line" "$1-min-ms")-$(field "$line" "$1-max-ms"))"; }
    printf '  %-13s %7s %7s %9s %9s   %-20s %-20s\n' "$name" "$(field "$line" rows)" \
        "$(field "$line" images)" "$(field "$line" median-ms)" "$(field "$line" ui-cpu-median-ms)" \
        "$(spread remove)" "$(spread empty)"
done
