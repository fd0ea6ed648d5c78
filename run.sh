#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a Release build and starts Quarrow on the bundled sample drive.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program="$here/build-release/src/quarrow"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DQUARROW_BUILD_TESTS=OFF -DQUARROW_BUILD_BENCH=OFF >/dev/null
# Everything the install and the package need too (icons, manual page, changelog), so that
# the README's cpack step works in this folder.
cmake --build "$here/build-release"
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "Quarrow needs a graphical display, and none was found; to run it without one, use: xvfb-run -a ./run.sh"
    exit 1
fi
cd "$here/samples/cd"
exec "$program"
