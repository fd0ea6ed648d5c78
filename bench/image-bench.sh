#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the scan of a disc image against bsdtar -tf and isoinfo -R -f on the same image and
# against the scan of the same tree as a folder, in one run, warm, round-robin; then counts the
# bytes the scan reads from a 2 GB image that is mostly a few large files, and times the scan of
# a 4.7 GB DVD image of 100,000 files.
#
#   bench/image-bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build-bench beside this folder, RUNS to 5. Builds nothing: it needs
# gen_drive, scan_tool and run_timed from BUILD_DIR/bench, and xorriso and bsdtar on the PATH.
# Trees and images live under QUARROW_IMGBENCH_DIR (default /tmp/quarrow-imgbench) and are
# reused while their arguments stay the same. The folder holds about 7 GB of images (and as
# much sparse input): delete it when done.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
runs=${2:-5}
work=${QUARROW_IMGBENCH_DIR:-/tmp/quarrow-imgbench}
seed=${QUARROW_BENCH_SEED:-20240601}
gen_args=(--seed "$seed" --files 30000 --folders 3000 --depth 8 --descriptor-every 15
          --categories 40)
# The large image: a small drive with a few descriptors plus big_count files of big_mb MB.
big_gen_args=(--seed "$seed" --files 300 --folders 30 --depth 3 --descriptor-every 15
              --categories 10)
big_count=4
big_mb=500
# The DVD: 100,000 files beside 9 files of big_mb MB, 4.7 GB in all.
dvd_gen_args=(--seed "$seed" --files 100000 --folders 10000 --depth 8 --descriptor-every 15
              --categories 40)
dvd_count=9
mkisofs_args=(-as mkisofs -quiet -J -R)

bin=$build/bench
for tool in gen_drive scan_tool run_timed; do
    if [[ ! -x $bin/$tool ]]; then
        echo "missing $bin/$tool; build it first:" >&2
        echo "  cmake -S $here -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARROW_BUILD_TESTS=OFF" >&2
        echo "  cmake --build $build --target gen_drive scan_tool run_timed" >&2
        exit 2
    fi
done
for cmd in xorriso bsdtar isoinfo; do
    if ! command -v "$cmd" >/dev/null; then
        echo "$cmd is missing: run scripts/install-deps.sh" >&2
        exit 2
    fi
done
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "RUNS must be a positive number" >&2
    exit 2
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)

# prepare NAME EXTRA_FILES GEN_ARGS...: the tree NAME and its image NAME.iso, rebuilt only
# when the arguments changed. EXTRA_FILES large files of big_mb MB go into the tree's root.
prepare() {
    local name=$1 extra=$2
    shift 2
    local drive=$work/$name image=$work/$name.iso stamp=$work/$name.args
    local args="$* extra $extra x ${big_mb}MB mkisofs ${mkisofs_args[*]}"
    if [[ -d $drive && -s $work/$name.summary && -s $image && -f $stamp &&
          "$(<"$stamp")" == "$args" ]]; then
        echo "reusing $drive and $image"
        return
    fi
    rm -rf "$drive" "$image" "$stamp" "$work/$name.summary"
    echo "generating $drive and $image"
    "$bin/gen_drive" --out "$drive" "$@" >"$work/$name.summary"
    local i
    for ((i = 0; i < extra; ++i)); do
        # Sparse: the image gets every byte, the tree costs no disk.
        truncate -s "${big_mb}M" "$drive/Video_$i.bin"
    done
    xorriso "${mkisofs_args[@]}" -o "$image" "$drive" 2>/dev/null
    echo "$args" >"$stamp"
}

prepare drive 0 "${gen_args[@]}"
prepare big "$big_count" "${big_gen_args[@]}"
prepare dvd "$dvd_count" "${dvd_gen_args[@]}"
drive=$work/drive
image=$work/drive.iso
big_image=$work/big.iso
summary=$work/drive.summary
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
report() {
    # shellcheck disable=SC2046
    row "$2" $(stats "$1" 1) $(stats "$1" 2)
}
medians() { echo "$(stats "$1" 1 | cut -d' ' -f1) $(stats "$1" 2 | cut -d' ' -f1)"; }

read -r load1 _ </proc/loadavg
echo "load average at start: $load1 on $(nproc) cores"

echo
echo "== image scan against bsdtar -tf, isoinfo -R -f and the folder scan ($runs runs each, round-robin, warm cache)"
# Warm-up: one untimed pass of each; the scans' passes also give the counts to check.
bsdtar -tf "$image" >"$tmp/listed"
image_line=$("$bin/scan_tool" "$image" --image)
folder_line=$("$bin/scan_tool" "$drive")
for ((i = 0; i < runs; ++i)); do
    time_one bsdtar bsdtar -tf "$image"
    time_one isoinfo isoinfo -R -f -i "$image"
    time_one image "$bin/scan_tool" "$image" --image
    time_one folder "$bin/scan_tool" "$drive"
done
header
report bsdtar "bsdtar -tf IMAGE"
report isoinfo "isoinfo -R -f -i IMAGE"
report image "scan_tool IMAGE --image"
report folder "scan_tool FOLDER"
read -r bsdtar_wall bsdtar_cpu < <(medians bsdtar)
read -r isoinfo_wall isoinfo_cpu < <(medians isoinfo)
read -r image_wall image_cpu < <(medians image)
read -r folder_wall folder_cpu < <(medians folder)
r_bsdtar=$(ratio "$image_wall" "$bsdtar_wall")
r_folder=$(ratio "$image_wall" "$folder_wall")
r_isoinfo=$(ratio "$image_wall" "$isoinfo_wall")
echo "  image scan / bsdtar -tf   (wall medians): $r_bsdtar   target <= 0.5: $(verdict "$r_bsdtar" 0.5)" \
    "  (CPU medians: $(ratio "$image_cpu" "$bsdtar_cpu"))"
echo "  image scan / isoinfo -R -f (wall medians): $r_isoinfo   target <= 3: $(verdict "$r_isoinfo" 3)" \
    "  (CPU medians: $(ratio "$image_cpu" "$isoinfo_cpu"))"
echo "  image scan / folder scan  (wall medians): $r_folder   target <= 1.3: $(verdict "$r_folder" 1.3)" \
    "  (CPU medians: $(ratio "$image_cpu" "$folder_cpu"))"
scan_read=$(field "$("$bin/scan_tool" "$image" --image --bytes-read)" bytes-read)
echo "  image size: $(stat -c %s "$image") bytes; bytes read by one image scan: $scan_read"
# What the scan needs, as pycdlib (an independent reader) finds it in the image.
if needed=$(/usr/bin/python3 "$here/bench/iso-directory-bytes.py" "$image" 2>/dev/null); then
    need=$(($(field "$needed" directories) + $(field "$needed" descriptors)))
    need_blocks=$(($(field "$needed" directory-blocks) + $(field "$needed" descriptor-blocks)))
    r_need=$(ratio "$scan_read" "$need")
    echo "  bytes read / bytes of the directories and .brw files it needs: $r_need" \
        "  target <= 2: $(verdict "$r_need" 2)   (/ the same in whole blocks:" \
        "$(ratio "$scan_read" "$need_blocks"))"
else
    echo "  bytes needed not measured: /usr/bin/python3 with pycdlib is missing (scripts/install-deps.sh)"
fi

echo
echo "== counts"
status=0
check() { # label expected actual
    local mark=ok
    [[ $2 == "$3" ]] || { mark=MISMATCH; status=1; }
    printf '  %-44s expected %8s  got %8s  %s\n' "$1" "$2" "$3" "$mark"
}
entries=$(($(field "$(<"$summary")" files) + $(field "$(<"$summary")" folders) - 1))
check "entries (bsdtar -tf lines)" "$entries" "$(grep -vcx '\.' "$tmp/listed")"
check "applications in the image" "$(field "$(<"$summary")" listed)" \
    "$(field "$image_line" applications)"
check "applications in the folder" "$(field "$(<"$summary")" listed)" \
    "$(field "$folder_line" applications)"
check "categories in the image" "$(field "$(<"$summary")" categories)" \
    "$(field "$image_line" categories)"

echo
echo "== bytes read from the ${big_count} x ${big_mb} MB image during a scan (rchar of the scan)"
big_size=$(stat -c %s "$big_image")
big_line=$("$bin/scan_tool" "$big_image" --image --bytes-read)
big_read=$(field "$big_line" bytes-read)
share=$(awk -v a="$big_read" -v b="$big_size" 'BEGIN { printf "%.3f", 100 * a / b }')
echo "  image size $big_size bytes; read $big_read bytes = $share %" \
    "  target <= 1 %: $(verdict "$share" 1)"
check "applications in the large image" "$(field "$(<"$work/big.summary")" listed)" \
    "$(field "$big_line" applications)"

echo
dvd_image=$work/dvd.iso
echo "== scan of the $(($(stat -c %s "$dvd_image") / 1000000)) MB DVD image of 100,000 files ($runs runs, warm)"
dvd_line=$("$bin/scan_tool" "$dvd_image" --image)
for ((i = 0; i < runs; ++i)); do
    time_one dvd "$bin/scan_tool" "$dvd_image" --image
done
header
report dvd "scan_tool DVD --image"
read -r dvd_wall _ < <(medians dvd)
echo "  DVD scan (wall median): $dvd_wall ms   target <= 1000 ms: $(verdict "$dvd_wall" 1000)"
check "applications in the DVD image" "$(field "$(<"$work/dvd.summary")" listed)" \
    "$(field "$dvd_line" applications)"
exit $status
