#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The library on a generated collection, in one run: cataloguing every image (quarrow --add)
# against bsdtar -tf over every image in turn, adding the unchanged collection again, search
# times for one and for three words (in one process, process start left out), how late the
# library window's UI thread runs while queries are typed, and the store's bytes per file.
#
#   bench/library-bench.sh [BUILD_DIR] [IMAGES] [FILES_PER_IMAGE] [TREES]
#
# BUILD_DIR defaults to build beside this folder, IMAGES to 50, FILES_PER_IMAGE to 3000. Every
# tenth image is UDF (genisoimage -udf) when genisoimage is there, the rest xorriso -R -J.
# TREES (default IMAGES) is how many different trees are generated: with fewer, images share
# a tree in turn, each with a file of its own, so that 1,000 images are made in minutes.
# Builds nothing: it needs quarrow, and gen_drive, run_timed, library_search and gui_library in
# BUILD_DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
images=${2:-50}
files=${3:-3000}
trees=${4:-$images}
((trees >= 1 && trees <= images)) || { echo "TREES must be 1 to IMAGES" >&2; exit 2; }
exe=$build/src/quarrow
bin=$build/bench
for tool in "$exe" "$bin/gen_drive" "$bin/run_timed" "$bin/library_search" "$bin/gui_library"; do
    [[ -x $tool ]] || { echo "missing $tool; build it first" >&2; exit 2; }
done
for cmd in xorriso bsdtar; do
    command -v "$cmd" >/dev/null || { echo "$cmd is not installed" >&2; exit 2; }
done

# LIBRARY_BENCH_KEEP=DIR keeps the generated collection in DIR, and a later run with the
# same DIR measures it again without generating it anew.
if [[ -n "${LIBRARY_BENCH_KEEP:-}" ]]; then
    work=$LIBRARY_BENCH_KEEP
    mkdir -p "$work"
    rm -rf "$work/data"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/quarrow-libbench.XXXXXX")
    trap 'rm -rf "$work"' EXIT
fi
export XDG_DATA_HOME=$work/data
mkdir -p "$work/images"

if [[ -f "$work/generated" && "$(cat "$work/generated")" == "$images $files $trees" ]]; then
    echo "measuring the $images images of $files files kept in $work..."
else
    rm -rf "$work/images" "$work/names"
    mkdir -p "$work/images"
    echo "generating $images images of $files files..."
    per_tree=$(((images + trees - 1) / trees))
    tree=$work/tree
    for ((i = 0; i < images; ++i)); do
        if ((i % per_tree == 0)); then
            rm -rf "$tree"
            "$bin/gen_drive" --out "$tree" --seed $((20240601 + i / per_tree)) --files "$files" \
                --folders $((files / 10 + 1)) --depth 4 --descriptor-every 30 --categories 12 >/dev/null
            # Queries from names that are there: 4 characters of one, three 3-character pieces of
            # one, and 2 characters of one.
            find "$tree" -type f -printf '%f\n' | shuf -n $((4 * per_tree)) --random-source=<(yes "$i") \
                >>"$work/names"
        fi
        rm -f "$tree"/volume-*.txt
        echo "$i" >"$tree/volume-$i.txt"
        if ((i % 10 == 9)) && command -v genisoimage >/dev/null; then
            genisoimage -quiet -input-charset iso8859-1 -R -J -udf -o "$work/images/disc$i.iso" "$tree" 2>/dev/null
        else
            xorriso -as mkisofs -quiet -R -J -V "DISC$i" -o "$work/images/disc$i.iso" "$tree" \
                2>/dev/null
        fi
    done
    rm -rf "$work/tree"
    echo "$images $files $trees" >"$work/generated"
fi
# 200 queries of each kind, drawn from the whole collection whatever its size.
queries() { shuf -n 200 --random-source=<(yes 1) >"$1"; }
awk '{ n = tolower($0); if (length(n) >= 6) print substr(n, 2, 4) }' "$work/names" | queries "$work/one"
awk '{ n = tolower($0); if (length(n) >= 9) print substr(n, 1, 3), substr(n, 4, 3), substr(n, 7, 3) }' \
    "$work/names" | queries "$work/three"
awk '{ n = tolower($0); if (length(n) >= 6) print substr(n, 3, 2) }' "$work/names" | queries "$work/short"

ms() { awk '{ printf "%.0f", $1 / 1e6 }' "$1"; }
sync
"$bin/run_timed" "$work/tar.ns" bash -c \
    'for image in "$1"/*.iso; do bsdtar -tf "$image" >/dev/null; done' _ "$work/images"
"$bin/run_timed" "$work/add.ns" "$exe" --add "$work/images" >"$work/added"
"$bin/run_timed" "$work/again.ns" "$exe" --add "$work/images" >"$work/again"
added=$(grep -c '^added' "$work/added" || true)
unchanged=$(grep -c '^unchanged' "$work/again" || true)
total_files=$(awk -F'\t' '{ n += $5 } END { print n }' "$work/added")

# As the library window asks (the first 501 of each kind), and one word as --search prints
# every hit.
read -r one50 one99 onehits < <("$bin/library_search" "$work/one" 5)
read -r three50 three99 threehits < <("$bin/library_search" "$work/three" 5)
read -r short50 short99 shorthits < <("$bin/library_search" "$work/short" 1)
read -r all50 all99 allhits < <("$bin/library_search" "$work/one" 1 0)
store=$work/data/quarrow/library.sqlite
bytes=$(stat -c %s "$store")

echo "volumes: $added added, $unchanged unchanged on the second add; $total_files files"
echo "catalogue all:    $(ms "$work/add.ns") ms   (bsdtar -tf over every image: $(ms "$work/tar.ns") ms," \
    "ratio $(awk -v a="$(cat "$work/add.ns")" -v b="$(cat "$work/tar.ns")" 'BEGIN { split(a, x, " "); split(b, y, " "); printf "%.2f", x[1] / y[1] }'))"
echo "add unchanged:    $(ms "$work/again.ns") ms"
echo "resident:         $(awk '{ printf "%.0f", $3 / 1024 }' "$work/add.ns") MiB at most while cataloguing"
echo "search one word:  p50 $one50 ms, p99 $one99 ms ($onehits hits on average)"
echo "search 3 words:   p50 $three50 ms, p99 $three99 ms ($threehits hits on average)"
echo "search 2 letters: p50 $short50 ms, p99 $short99 ms ($shorthits hits on average)"
echo "search all hits:  p50 $all50 ms, p99 $all99 ms for one word ($allhits hits on average)"
typing=$(QT_QPA_PLATFORM=offscreen "$bin/gui_library" "$store" "$work/one" 20 2>/dev/null |
    awk '/^typing/ { print "UI thread own p99", $9, "ms, max", $11, "ms; wall p99", $5, "ms (" $3, "keys)" }')
echo "typing in window: $typing"
echo "store:            $bytes bytes, $(awk -v b="$bytes" -v f="$total_files" 'BEGIN { printf "%.0f", b / f }') bytes per file"
echo "load: $(cat /proc/loadavg)"
