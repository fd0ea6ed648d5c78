#!/usr/bin/env bash
# Makes docs/screenshot.png: the real main window on the sample drive, under the offscreen
# platform. Usage: scripts/screenshot.sh [BUILD-DIR] [APPLICATION-NAME] [OUT]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$here/build}"
app="${2:-}"
out="${3:-$here/docs/screenshot.png}"
cmake --build "$build" --target quarrow_screenshot >/dev/null
mkdir -p "$(dirname "$out")"
cd "$here/samples/cd"
args=("$out")
[[ -n "$app" ]] && args+=("$app")
QT_QPA_PLATFORM=offscreen "$build/tools/quarrow_screenshot" "${args[@]}"
echo "wrote $out"
