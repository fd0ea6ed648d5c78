#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the disc view against reading the image itself, in one run:
#   1. from asking for the view of a ~700 MB image to the first byte of a program inside it;
#   2. a 500 MB file read through the view against cat of the image (warm: each is read
#      twice before the read that counts, since the kernel moves a file's pages to its
#      active list on their second read, which costs that read; all three are shown);
#   3. find over a 30,000-file image through the view, first after mounting and again,
#      against find on the same tree as a folder.
#
#   bench/discview-bench.sh [BUILD_DIR]
#
# BUILD_DIR defaults to build beside this folder; it needs src/quarrow-disc-view there, and
# xorriso, flock and fusermount3 on the PATH. Work files live under QUARROW_DVBENCH_DIR
# (default /tmp/quarrow-dvbench) and are removed at the end unless QUARROW_DVBENCH_KEEP=1,
# which keeps the made images for the next run. Mount points, as the window's, are made in
# $XDG_RUNTIME_DIR (else /dev/shm), so that serving the view writes nothing to disk.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=${QUARROW_DVBENCH_DIR:-/tmp/quarrow-dvbench}
keep=${QUARROW_DVBENCH_KEEP:-0}
server=$build/src/quarrow-disc-view
for tool in xorriso flock fusermount3; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
[[ -x $server ]] || { echo "$server is missing: build the quarrow-disc-view target" >&2; exit 1; }
[[ -w /dev/fuse ]] || { echo "/dev/fuse is missing" >&2; exit 1; }

runtime=${XDG_RUNTIME_DIR:-/dev/shm}
views=$(mktemp -d "$runtime/quarrow-dvbench.XXXXXX")
mkdir -p "$work"
[[ $keep == 1 ]] || made_work=$work
mp=$views/view
lease=

# Unmounts and removes whatever the run left, however it ends.
cleanup() {
    local pid=
    [[ -n $lease ]] && exec {lease}<&-
    lease=
    [[ -f $mp.info ]] && pid=$(sed -n 's/^pid=//p' "$mp.info")
    if [[ -d $mp ]] && mountpoint -q "$mp"; then fusermount3 -u -z "$mp" 2>/dev/null || true; fi
    if [[ -n $pid ]]; then
        kill "$pid" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    rm -rf "$mp" "$mp.lease" "$mp.info" "$mp.info.new"
}
finish() {
    cleanup
    rm -rf "$views"
    [[ -z ${made_work:-} ]] || rm -rf "$made_work"
}
trap finish EXIT
trap 'exit 130' INT TERM

now() { date +%s%N; }
# seconds between two now()s
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mbps() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%.0f", n / 1048576 / ((b - a) / 1e9) }'; }

# The view as the window gets it: a shared lease held for the run, then the server, which
# says "ok" on its ready descriptor once mounted. The server must not inherit the lease.
serve() {
    local image=$1 answer
    rm -rf "$mp" "$mp.lease"
    mkdir -m 700 "$mp"
    : >"$mp.lease"
    exec {lease}<"$mp.lease"
    flock -s "$lease"
    read -r answer < <("$server" "$image" "$mp" 3 3>&1 >/dev/null 2>&1 {lease}<&- &) || true
    [[ $answer == ok ]] || { echo "the view of $image failed: ${answer:-no answer}" >&2; exit 1; }
}
# Lets the lease go and waits for the server to leave by itself, as it does for the window.
leave() {
    local pid
    pid=$(sed -n 's/^pid=//p' "$mp.info")
    exec {lease}<&-
    lease=
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && echo "the server did not leave by itself" >&2
    cleanup
}
written_by() { sed -n 's/^write_bytes: //p' "/proc/$1/io"; }

if [[ ! -f $work/tree.iso ]]; then
    rm -rf "$work/tree"
    mkdir -p "$work/tree"
    for ((d = 0; d < 300; d++)); do
        mkdir "$work/tree/d$d"
        for ((f = 0; f < 100; f++)); do echo "$d $f" >"$work/tree/d$d/f$f.txt"; done
    done
    xorriso -as mkisofs -quiet -R -J -o "$work/tree.iso" "$work/tree" 2>/dev/null
fi
big=500 # MiB, the file read through the view
if [[ ! -f $work/big.iso ]]; then
    rm -rf "$work/big"
    mkdir -p "$work/big"
    cp /bin/true "$work/big/SETUP.EXE"
    head -c ${big}M /dev/zero >"$work/big/big.bin"
    head -c 200M /dev/zero >"$work/big/pad.bin"
    xorriso -as mkisofs -quiet -R -J -o "$work/big.iso" "$work/big" 2>/dev/null
    rm -rf "$work/big"
fi
sync
echo "load average: $(cat /proc/loadavg)"

# 1. Asking for the view to the first byte of a program inside it.
cat "$work/big.iso" >/dev/null # the image in the page cache, as just after it was opened
start=$(now)
serve "$work/big.iso"
head -c 1 "$mp/SETUP.EXE" >/dev/null
end=$(now)
pid=$(sed -n 's/^pid=//p' "$mp.info")
echo "1. view of a $(($(stat -c %s "$work/big.iso") / 1048576)) MiB image to first byte: $(seconds "$start" "$end") s (target <= 1 s); server wrote $(written_by "$pid") bytes to disk"

# 2. The large file through the view against cat of the image.
size=$(stat -c %s "$work/big.iso")
cat "$work/big.iso" >/dev/null
a=$(now); cat "$work/big.iso" >/dev/null; b=$(now)
plain=$(mbps "$size" "$a" "$b")
a=$(now); cat "$mp/big.bin" >/dev/null; b=$(now)
first=$(mbps $((big * 1048576)) "$a" "$b")
a=$(now); cat "$mp/big.bin" >/dev/null; b=$(now)
second=$(mbps $((big * 1048576)) "$a" "$b")
a=$(now); cat "$mp/big.bin" >/dev/null; b=$(now)
third=$(mbps $((big * 1048576)) "$a" "$b")
echo "2. ${big} MiB file: view $third MiB/s (first read $first MiB/s, second $second MiB/s), cat of the image $plain MiB/s, ratio $(ratio "$third" "$plain") (first $(ratio "$first" "$plain"), second $(ratio "$second" "$plain")) (target >= 0.8)"
leave

# 3. find through the view against find on the folder.
if [[ ! -d $work/tree ]]; then
    mkdir -p "$work/tree"
    xorriso -osirrox on -indev "$work/tree.iso" -extract / "$work/tree" 2>/dev/null
fi
find "$work/tree" >/dev/null
a=$(now); find "$work/tree" | wc -l >/dev/null; b=$(now)
folder=$(seconds "$a" "$b")
serve "$work/tree.iso"
a=$(now); n=$(find "$mp" | wc -l); b=$(now)
cold=$(seconds "$a" "$b")
a=$(now); find "$mp" | wc -l >/dev/null; b=$(now)
warm=$(seconds "$a" "$b")
echo "3. find over $n entries: view $cold s first, $warm s again; folder $folder s; ratio $(ratio "$cold" "$folder") first, $(ratio "$warm" "$folder") again (target <= 2)"
leave
echo "load average: $(cat /proc/loadavg)"
