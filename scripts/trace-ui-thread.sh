#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Traces Quarrow from outside while a person would browse a drive: strace records every
# thread's file calls, xdotool selects each application and switches the file mode, and the
# check fails when the UI thread touched the drive after start-up (reading autorun.inf).
#
#   scripts/trace-ui-thread.sh [BUILD_DIR] [DRIVE]
#
# BUILD_DIR defaults to build-release, DRIVE to samples/cd (it needs an autorun.inf).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build-release}" && pwd)
drive=$(cd "${2:-$here/samples/cd}" && pwd)
program=$build/src/quarrow
[[ -x $program ]] || { echo "no $program: build it first" >&2; exit 2; }
command -v strace >/dev/null || { echo "strace is needed (apt-get install strace)" >&2; exit 2; }

if [[ -z ${QUARROW_TRACE_INNER:-} ]]; then
    export QUARROW_TRACE_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$drive"
fi

traces=$(mktemp -d)
trap 'rm -rf "$traces"' EXIT
cd "$drive"
strace -f -ff -o "$traces/t" -e trace=%file,%desc,getdents64 "$program" &
tracer=$!
for _ in $(seq 100); do
    wid=$(xdotool search --onlyvisible --name "^Quarrow - " 2>/dev/null | head -1) || true
    [[ -n ${wid:-} ]] && break
    sleep 0.2
done
[[ -n ${wid:-} ]] || { echo "FAIL: the window never came up"; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool windowfocus --sync "$wid"
press_tree() { xdotool mousemove $((X + 40)) $((Y + 60)) click 1; sleep 0.3; }
press_tree
for _ in $(seq 30); do xdotool key Down; sleep 0.3; done
# The two mode buttons, each pressed with an application selected.
for x in 200 160 200; do xdotool mousemove $((X + x)) $((Y + 15)) click 1; sleep 0.5; done
press_tree
for _ in $(seq 10); do xdotool key Down; sleep 0.3; done
xdotool key Escape
wait "$tracer" || true

main=$traces/t.$(ls "$traces" | sed 's/^t\.//' | sort -n | head -1)
threads=$(ls "$traces" | wc -l)
# Everything the UI thread did with the drive after it read autorun.inf at start-up.
late=$(awk -v d="$drive/" 'index($0, d "autorun.inf") && /O_RDONLY/ {p = 1; next} p && index($0, d)' "$main")
echo "threads traced: $threads; drive calls by workers: $(cat "$traces"/t.* | grep -c -F "$drive/" || true)"
if [[ -n $late ]]; then
    echo "FAIL: the UI thread touched the drive after start-up:"
    echo "$late" | head -20
    exit 1
fi
echo "PASS: after start-up the UI thread made no file-system call on $drive"
