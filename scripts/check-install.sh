#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Proves the README's install commands: after ./run.sh, `cd build-release && cpack -G DEB`
# makes a package that holds the program, its manual page and its changelog, and installs
# them where a desktop finds them (unpacked into a scratch folder, not onto this machine).
#   scripts/check-install.sh        (run after ./run.sh or scripts/check-run.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build-release"
[[ -x "$build/src/quarrow" ]] || { echo "check-install: run ./run.sh first" >&2; exit 1; }

rm -f "$build"/quarrow_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
shopt -s nullglob
packages=("$build"/quarrow_*.deb)
((${#packages[@]} == 1)) || { echo "check-install: cpack made ${#packages[@]} packages" >&2; exit 1; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "${packages[0]}" "$root"
missing=0
for file in usr/bin/quarrow usr/share/man/man1/quarrow.1.gz usr/share/doc/quarrow/changelog.gz \
    usr/share/doc/quarrow/copyright usr/share/applications/quarrow.desktop \
    usr/share/icons/hicolor/48x48/apps/quarrow.png; do
    [[ -s "$root/$file" ]] || { echo "check-install: the package lacks $file" >&2; missing=1; }
done
((missing == 0)) || exit 1
"$root/usr/bin/quarrow" --version >/dev/null
echo "check-install: ${packages[0]##*/} holds the program, its manual page and changelog"
