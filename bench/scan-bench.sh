#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the drive scan against find and bfs on one generated tree, in the same run, with a
# warm cache, round-robin so that drift hits every tool alike.
#
#   bench/scan-bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-bench beside this folder, RUNS to 7. Builds nothing: it needs
# gen_drive, scan_tool and run_timed from BUILD_DIR/bench, and bfs on the PATH. The tree
# lives under QUARROW_BENCH_DIR (default /tmp/quarrow-bench) and is reused while the
# generator's arguments stay the same; delete that folder when done.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
runs=${2:-7}
work=${QUARROW_BENCH_DIR:-/tmp/quarrow-bench}
seed=${QUARROW_BENCH_SEED:-20240601}
gen_args=(--seed "$seed" --files 300000 --folders 30000 --depth 8 --descriptor-every 150
          --categories 40)

bin=$build/bench
for tool in gen_drive scan_tool run_timed; do
    if [[ ! -x $bin/$tool ]]; then
        echo "missing $bin/$tool; build it first:" >&2
        echo "  cmake -S $here -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TESTS=OFF" >&2
        echo "  cmake --build $build --target gen_drive scan_tool run_timed" >&2
        exit 2
    fi
done
if ! command -v bfs >/dev/null; then
    echo "bfs is missing: run scripts/install-deps.sh" >&2
    exit 2
fi
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "RUNS must be a positive number" >&2
    exit 2
fi

mkdir -p "$work"
drive=$work/drive
summary=$work/drive.summary
stamp=$work/drive.args
if [[ -d $drive && -s $summary && -f $stamp && "$(<"$stamp")" == "${gen_args[*]}" ]]; then
    echo "reusing $drive"
else
    rm -rf "$drive" "$summary" "$stamp"
    echo "generating $drive"
    "$bin/gen_drive" --out "$drive" "${gen_args[@]}" >"$summary"
    echo "${gen_args[*]}" >"$stamp"
fi
cat "$summary"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The value that follows word in a "key value key value" line.
field() { awk -v key="$2" '{ for (i = 1; i < NF; ++i) if ($i == key) { print $(i + 1); exit } }' <<<"$1"; }

# time_one NAME COMMAND...: one timed run, its output thrown away.
time_one() {
    local name=$1
    shift
    if ! "$bin/run_timed" "$tmp/ns" "$@" >/dev/null 2>"$tmp/err"; then
        echo "failed: $*" >&2
        cat "$tmp/err" >&2
        exit 1
    fi
    cat "$tmp/ns" >>"$tmp/$name.ns"
}

# stats NAME COLUMN: median min max in ms of wall (column 1) or CPU time (column 2).
stats() {
    awk -v c="$2" '{ print $c }' "$tmp/$1.ns" | sort -n | awk '{ a[NR] = $1 / 1e6 }
        END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2
              printf "%.1f %.1f %.1f\n", m, a[1], a[NR] }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "met" : "MISSED" }'; }

row() { # label, wall median min max, CPU median min max
    printf '  %-36s %9s %9s %9s   %9s %9s %9s\n' "$@"
}
header() {
    row "" "wall ms" "" "" "CPU ms" "" ""
    row "command" median min max median min max
}
# report NAME LABEL: one row of wall and CPU figures.
report() {
    # shellcheck disable=SC2046
    row "$2" $(stats "$1" 1) $(stats "$1" 2)
}
# medians NAME: "WALL CPU"
medians() { echo "$(stats "$1" 1 | cut -d' ' -f1) $(stats "$1" 2 | cut -d' ' -f1)"; }

# Other processes on the same cores stretch wall times; the CPU columns suffer less.
read -r load1 _ </proc/loadavg
echo "load average at start: $load1 on $(nproc) cores"

echo
echo "== scan against find and bfs ($runs runs each, round-robin, warm cache)"
# Warm-up: one untimed pass of each; the scan's pass also gives the counts to check.
find "$drive" -iname '*.brw' >"$tmp/found"
bfs "$drive" -iname '*.brw' >/dev/null
scan_line=$("$bin/scan_tool" "$drive")
found=$(wc -l <"$tmp/found")

for ((i = 0; i < runs; ++i)); do
    time_one find find "$drive" -iname '*.brw'
    time_one bfs bfs "$drive" -iname '*.brw'
    time_one scan "$bin/scan_tool" "$drive"
done

header
report find "find ROOT -iname '*.brw'"
report bfs "bfs ROOT -iname '*.brw'"
report scan "scan_tool ROOT"
read -r find_wall find_cpu < <(medians find)
read -r bfs_wall bfs_cpu < <(medians bfs)
read -r scan_wall scan_cpu < <(medians scan)
r_bfs=$(ratio "$scan_wall" "$bfs_wall")
r_find=$(ratio "$scan_wall" "$find_wall")
echo "  scan / bfs  (wall medians): $r_bfs   target <= 1.0: $(verdict "$r_bfs" 1.0)" \
    "  (CPU medians: $(ratio "$scan_cpu" "$bfs_cpu"))"
echo "  scan / find (wall medians): $r_find   target <= 0.6: $(verdict "$r_find" 0.6)" \
    "  (CPU medians: $(ratio "$scan_cpu" "$find_cpu"))"
echo
echo "== counts"
status=0
check() { # label expected actual
    local mark=ok
    [[ $2 == "$3" ]] || { mark=MISMATCH; status=1; }
    printf '  %-44s expected %8s  got %8s  %s\n' "$1" "$2" "$3" "$mark"
}
check "descriptors (find -iname '*.brw')" "$(field "$(<"$summary")" descriptors)" "$found"
check "applications (descriptors minus unlisted)" "$(field "$(<"$summary")" listed)" \
    "$(field "$scan_line" applications)"
check "categories (distinct without regard to case)" "$(field "$(<"$summary")" categories)" \
    "$(field "$scan_line" categories)"

echo
echo "== scan with every d_type unknown, as on a CD ($runs runs each, round-robin)"
unknown_line=$("$bin/scan_tool" "$drive" --assume-unknown-type)
for ((i = 0; i < runs; ++i)); do
    time_one scan2 "$bin/scan_tool" "$drive"
    time_one unknown "$bin/scan_tool" "$drive" --assume-unknown-type
done
header
report scan2 "scan_tool ROOT"
report unknown "scan_tool ROOT --assume-unknown-type"
read -r scan2_wall scan2_cpu < <(medians scan2)
read -r unknown_wall unknown_cpu < <(medians unknown)
entries=$(($(field "$(<"$summary")" files) + $(field "$(<"$summary")" folders) - 1))
echo "  fstatat calls per scan: $(field "$unknown_line" fstatat) (entries below the root: $entries)"
echo "  unknown-type / normal scan (wall medians): $(ratio "$unknown_wall" "$scan2_wall")" \
    "  (CPU medians: $(ratio "$unknown_cpu" "$scan2_cpu"))"
echo "  unknown-type / bfs of the first section (wall medians): $(ratio "$unknown_wall" "$bfs_wall")"
check "applications with unknown types" "$(field "$(<"$summary")" listed)" \
    "$(field "$unknown_line" applications)"

echo
echo "== system calls of one pass (strace -f -c), per folder of the drive"
if command -v strace >/dev/null; then
    folders=$(field "$(<"$summary")" folders)
    printf '  %-36s %9s %7s %9s %7s %7s %10s %7s\n' command total /folder getdents64 openat \
        close newfstatat fcntl
    # syscalls NAME LABEL COMMAND...: one traced run, its counts by system call.
    syscalls() {
        local label=$2
        shift 2
        strace -f -c -U name,calls -o "$tmp/strace" "$@" >/dev/null
        # count NAME: calls of one system call, 0 when there were none.
        count() { awk -v n="$1" '$1 == n { c = $2 } END { print c + 0 }' "$tmp/strace"; }
        local total
        total=$(count total)
        printf '  %-36s %9s %7s %9s %7s %7s %10s %7s\n' "$label" "$total" \
            "$(awk -v a="$total" -v b="$folders" 'BEGIN { printf "%.1f", a / b }')" \
            "$(count getdents64)" "$(count openat)" "$(count close)" "$(count newfstatat)" \
            "$(count fcntl)"
    }
    syscalls find "find ROOT -iname '*.brw'" find "$drive" -iname '*.brw'
    syscalls bfs "bfs ROOT -iname '*.brw'" bfs "$drive" -iname '*.brw'
    syscalls scan "scan_tool ROOT" "$bin/scan_tool" "$drive"
else
    echo "  strace is missing: skipped"
fi
exit $status
