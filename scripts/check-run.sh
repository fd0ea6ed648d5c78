#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Proves the README's run command: starts ./run.sh under a virtual display, waits for the
# window on the sample disc, closes it with Escape as a person would, and expects the program
# to end with status 0 within a second. Fails when the window never comes up.
#   scripts/check-run.sh [SECONDS-FOR-THE-BUILD]   (default 900)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
title="Quarrow - Quarrow Sample Disc"
build_limit="${1:-900}"
window_limit=30

if [[ -z "${QUARROW_CHECK_ON_DISPLAY:-}" ]]; then
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
    "$here/scripts/install-deps.sh"
    QUARROW_CHECK_ON_DISPLAY=1 exec xvfb-run -a "$here/scripts/check-run.sh" "$build_limit"
fi

log=$(mktemp)
cd "$here"
# A session of its own, so that a failed check can end the build it started too.
setsid ./run.sh >"$log" 2>&1 &
pid=$!
cleanup()
{
    kill -- "-$pid" 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

fail()
{
    echo "check-run: $*" >&2
    echo "--- last lines of ./run.sh:" >&2
    tail -n 30 "$log" >&2
    exit 1
}

# A zombie still answers kill -0: read its state instead.
running()
{
    local stat
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat%% *} != Z ]]
}

visible_window()
{
    local id
    for id in $(xwininfo -root -tree | grep -F "\"$title\":" | awk '{print $1}'); do
        if xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# run.sh installs and builds first, then replaces itself with the program: the window's time
# runs from there.
deadline=$((SECONDS + build_limit))
window=""
while [[ -z "$window" ]]; do
    running || fail "./run.sh ended before the window \"$title\" came up"
    if [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == */quarrow && $deadline -gt $((SECONDS + window_limit)) ]]; then
        deadline=$((SECONDS + window_limit))
    fi
    ((SECONDS < deadline)) || fail "no window \"$title\" in time"
    window=$(visible_window) || window=""
    [[ -n "$window" ]] || sleep 0.5
done
echo "check-run: window \"$title\" is up ($window)"

timeout 10 xdotool windowfocus --sync "$window" || fail "cannot give the window the focus"
xdotool key Escape
for _ in $(seq 10); do
    running || break
    sleep 0.1
done
running && fail "the program still runs a second after Escape"
status=0
wait "$pid" || status=$?
((status == 0)) || fail "the program ended with status $status"
echo "check-run: closed with Escape, status 0"
