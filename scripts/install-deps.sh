#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that building, running and testing Quarrow need; only the
# missing ones, through sudo when not root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libglib2.0-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    shared-mime-info hicolor-icon-theme adwaita-icon-theme desktop-file-utils
    xvfb xauth xdotool x11-utils bfs dpkg-dev file lintian appstream
    libsqlite3-dev zlib1g-dev xorriso genisoimage udftools libarchive-tools mtools dosfstools
    7zip python3-pycdlib
    libfuse3-dev fuse3
)
if [[ "${1:-}" == "--sanitizers" ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
