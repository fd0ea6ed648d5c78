#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures how late the UI thread's event loop runs while the real main window scans a
# 300,000-file drive, lists a 200,000-file folder and shows the largest description allowed,
# and how long closing the window takes in the middle of each (gui_responsiveness).
#
#   bench/responsiveness-bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-resp beside this folder (configured as a Release build without
# tests when it is missing), RUNS to 3: each run is one gui_responsiveness process, and the
# table shows the medians over the runs. The drives live under QUARROW_RESP_DIR (default
# /tmp/quarrow-resp) and are reused while the generator's arguments stay the same; delete that
# folder when done (about 500,000 files). QUARROW_BENCH_SEED sets the seed. On a machine shared
# with other work, QUARROW_RESP_NICE=-10 (root only) runs the tool at a higher priority, which
# comes closer to what a user sees on a machine of their own.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-resp}
runs=${2:-3}
work=${QUARROW_RESP_DIR:-/tmp/quarrow-resp}
seed=${QUARROW_BENCH_SEED:-20240601}
nice=${QUARROW_RESP_NICE:-0}
export QT_QPA_PLATFORM=offscreen

if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "RUNS must be a positive number" >&2
    exit 2
fi
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TESTS=OFF \
        >/dev/null
fi
cmake --build "$build" -j2 --target gen_drive gui_responsiveness >/dev/null
bin=$build/bench

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
make_folder drive "$bin/gen_drive" --out "$work/drive" --seed "$seed"
make_folder flat200k "$bin/gen_drive" --flat "$work/flat200k" --seed "$seed" --files 200000

# The value that follows word in a "key value key value" line.
field() { awk -v key="$2" '{ for (i = 1; i < NF; ++i) if ($i == key) { print $(i + 1); exit } }' <<<"$1"; }
apps=$(field "$(<"$work/drive.summary")" listed)
# The listing's one pattern takes every file, Flat.brw included.
rows=$(($(field "$(<"$work/flat200k.summary")" files) + 1))

# The raw lines of the last invocation stay for a closer look.
tmp=$work/last-runs
rm -rf "$tmp"
mkdir -p "$tmp"

read -r load1 load5 _ </proc/loadavg
echo "load average at start: $load1 (5 min: $load5) on $(nproc) cores; tool at nice $nice"
# Warm the cache, so that the first run reads the drives from memory as the others do.
find "$work/drive" "$work/flat200k" >/dev/null

for ((i = 1; i <= runs; ++i)); do
    if ! nice -n "$nice" "$bin/gui_responsiveness" --drive "$work/drive" --flat "$work/flat200k" \
        --expect-apps "$apps" --expect-rows "$rows" >"$tmp/run$i" 2>"$tmp/err$i"; then
        echo "failed: gui_responsiveness (run $i)" >&2
        cat "$tmp/run$i" "$tmp/err$i" >&2
        exit 1
    fi
    read -r load1 _ </proc/loadavg
    echo "run $i done, load average $load1"
done

# median KIND PHASE KEY: the median over the runs of KEY on the KIND PHASE lines.
median() {
    awk -v kind="$1" -v phase="$2" -v key="$3" '$1 == kind && $2 == phase {
            for (i = 3; i < NF; ++i) if ($i == key) print $(i + 1) }' "$tmp"/run* |
        sort -g | awk '{ a[NR] = $1 } END { if (!NR) { print "-"; exit }
                                           m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
                                           printf "%.1f\n", m }'
}
# highest KIND PHASE KEY: the largest value over the runs.
highest() {
    awk -v kind="$1" -v phase="$2" -v key="$3" '$1 == kind && $2 == phase {
            for (i = 3; i < NF; ++i) if ($i == key) print $(i + 1) }' "$tmp"/run* | sort -g | tail -n 1
}
# tally PHASE: how the workers ended when the window closed, over the runs.
tally() {
    awk -v phase="$1" '$1 == "close" && $2 == phase {
            for (i = 3; i < NF; ++i) if ($i == "worker") n[$(i + 1)]++ }
        END { s = ""; for (k in n) s = s (s == "" ? "" : ",") k ":" n[k]; print s }' "$tmp"/run*
}
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "met" : "MISSED" }'; }

echo
echo "== lateness of a 10 ms UI-thread timer, ms (medians of $runs runs; worst = largest max)"
row() { printf '  %-12s %7s %5s %5s %6s %6s %6s %6s %6s %8s %7s %7s  %-7s %-7s\n' "$@"; }
row "" "" "" "" "" "" "" own own "" "" "" "" ""
row phase count ticks p50 p99 max worst p99 max duration "UI CPU" preempt "p99<=50" "max<=200"
for phase in scan list description; do
    p99=$(median phase $phase p99-ms)
    max=$(median phase $phase max-ms)
    row $phase "$(median phase $phase count | cut -d. -f1)" \
        "$(median phase $phase ticks | cut -d. -f1)" "$(median phase $phase p50-ms)" "$p99" \
        "$max" "$(highest phase $phase max-ms)" "$(median phase $phase own-p99-ms)" \
        "$(median phase $phase own-max-ms)" "$(median phase $phase duration-ms)" \
        "$(median phase $phase ui-cpu-ms)" "$(median phase $phase preempted | cut -d. -f1)" \
        "$(verdict "$p99" 50)" "$(verdict "$max" 200)"
done
echo "  count: applications, rows, text blocks; own: the same from the UI thread's CPU time per"
echo "  interval (its own work, without the time others' load kept it off a core); duration: to"
echo "  the end; UI CPU: the UI thread's CPU time in it; preempt: times the kernel took the UI"
echo "  thread off a core"

echo
echo "== closing the window in the middle of each phase, ms (medians of $runs runs)"
crow() { printf '  %-12s %7s %7s %7s %7s %8s %8s %8s  %-16s %-7s %-7s\n' "$@"; }
crow phase at close worst wait handler "its CPU" destroy worker "<=100" "worst"
for phase in scan list description; do
    close=$(median close $phase close-ms)
    worst=$(highest close $phase close-ms)
    crow $phase "$(median close $phase at-ms)" "$close" "$worst" "$(median close $phase wait-ms)" \
        "$(median close $phase handler-ms)" "$(median close $phase handler-cpu-ms)" \
        "$(median close $phase destroy-ms)" "$(tally $phase)" "$(verdict "$close" 100)" \
        "$(verdict "$worst" 100)"
done
echo "  at: the request, after the phase's start; close: from the request until close() has"
echo "  returned, window hidden and worker stopped; wait: until the UI thread took the request;"
echo "  handler: close() itself; destroy: the window's destruction after that (what the"
echo "  program's exit adds); worker: how the walk ended (none: it had ended before)"
echo "  raw lines: $tmp"
if awk '$1 == "close" { for (i = 3; i < NF; ++i) if (($i == "hidden" && $(i + 1) != 1) ||
        ($i == "running-after" && $(i + 1) != 0)) bad = 1 } END { exit !bad }' "$tmp"/run*; then
    echo "  a window stayed visible or its worker kept running after close()" >&2
    exit 1
fi
