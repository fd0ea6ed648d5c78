#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the disc view against reading the image itself, in one run: mount and first read,
# a large file read through the view against cat of the image, and find over a 30,000-file
# image through the view against find on the same tree as a folder.
#
#   bench/discview-bench.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build beside this folder; it needs src/quarrow-disc-view there, and
# xorriso on the PATH. Work files live under QUARROW_DVBENCH_DIR (default /tmp/quarrow-dvbench).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=${QUARROW_DVBENCH_DIR:-/tmp/quarrow-dvbench}
server=$build/src/quarrow-disc-view
mkdir -p "$work"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

# The view as the window gets it: a shared lease held for the run, then the server.
serve() {
    local image=$1 mp=$2
    rm -rf "$mp" "$mp.lease"
    mkdir -m 700 "$mp"
    : >"$mp.lease"
    exec {lease}<"$mp.lease"
    flock -s "$lease"
    "$server" "$image" "$mp" 1 >/dev/null
}
leave() { exec {lease}<&-; while [[ -d $1 ]]; do sleep 0.2; done; }

if [[ ! -f $work/tree.iso ]]; then
    mkdir -p "$work/tree"
    for ((d = 0; d < 300; d++)); do
        mkdir -p "$work/tree/d$d"
        for ((f = 0; f < 100; f++)); do echo "$d $f" >"$work/tree/d$d/f$f.txt"; done
    done
    xorriso -as mkisofs -quiet -R -J -o "$work/tree.iso" "$work/tree"
fi
if [[ ! -f $work/big.iso ]]; then
    mkdir -p "$work/big"
    head -c 1G /dev/urandom >"$work/big/big.bin"
    xorriso -as mkisofs -quiet -R -J -o "$work/big.iso" "$work/big"
fi
sync

start=$(now)
serve "$work/tree.iso" "$work/mp"
head -c 1 "$work/mp/d0/f0.txt" >/dev/null
echo "mount + first read: $(elapsed "$start" "$(now)") s"
find "$work/mp" >/dev/null # warm
start=$(now); n=$(find "$work/mp" | wc -l); view=$(elapsed "$start" "$(now)")
start=$(now); find "$work/tree" >/dev/null; folder=$(elapsed "$start" "$(now)")
echo "find over $n entries: view $view s, folder $folder s, ratio $(echo "$view / $folder" | bc -l | head -c 6)"
leave "$work/mp"

serve "$work/big.iso" "$work/mp"
cat "$work/big.iso" >/dev/null # warm the page cache under both
start=$(now); cat "$work/mp/big.bin" >/dev/null; view=$(elapsed "$start" "$(now)")
start=$(now); cat "$work/big.iso" >/dev/null; plain=$(elapsed "$start" "$(now)")
echo "1 GB file: view $view s, cat of the image $plain s, ratio $(echo "$view / $plain" | bc -l | head -c 6)"
leave "$work/mp"
