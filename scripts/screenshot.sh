#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/screenshot.png: the real main window on the sample drive with an application
# selected, grabbed from a virtual X display as a screen shows it.
#   scripts/screenshot.sh [BUILD-DIR] [APPLICATION-NAME] [OUT]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$here/build}")
app="${2:-Starfield Drift}"
out=$(realpath -m "${3:-$here/docs/screenshot.png}")
cmake --build "$build" --target quarrow_screenshot >/dev/null
mkdir -p "$(dirname "$out")"
cd "$here/samples/cd"
env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY \
    xvfb-run -a "$build/tools/quarrow_screenshot" "$out" "$app"
echo "wrote $out"
