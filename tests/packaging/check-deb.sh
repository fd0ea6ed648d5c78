#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a configured and built Quarrow tree into a temporary folder and packs it as a .deb,
# then checks what a desktop and dpkg rely on: the file set, the desktop entry, the icons,
# the MIME package, the AppStream metadata, the Debian documents and the control fields, and
# that lintian finds no error and no missing hardening.
#
#   check-deb.sh <build folder> <project version> [<sanitizer>]
#
# Exits 77 (a CTest skip) when a tool it needs is missing or in a sanitizer build, whose
# binaries are not what anyone packages.
set -euo pipefail

build=$(cd "$1" && pwd)
version=$2
sanitize=${3:-}
source_root=$(cd "$(dirname "$0")/../.." && pwd)
cmake=${CMAKE_COMMAND:-cmake}
cpack=${CPACK_COMMAND:-cpack}

skip() { echo "SKIPPED: $*"; exit 77; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

[[ -z "$sanitize" ]] || skip "sanitizer build ($sanitize)"
for tool in "$cmake" "$cpack" dpkg dpkg-deb dpkg-shlibdeps file desktop-file-validate \
    appstreamcli lintian; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
icon_sizes=(16 22 24 32 48 64 128 256)

# Checks an installed tree rooted at $1 (holding usr/).
check_tree() {
    local root=$1 what=$2

    local bin
    bin=$(cd "$root/usr/bin" && ls -A)
    [[ "$bin" == "quarrow" ]] || fail "$what: usr/bin holds '${bin//$'\n'/ }', not just quarrow"
    [[ -x "$root/usr/bin/quarrow" ]] || fail "$what: usr/bin/quarrow is not executable"
    local stray
    stray=$(cd "$root" && find . -name '*_tests' -o -name '*bench*' -o -name 'quarrow_*' -o -name '*.a')
    [[ -z "$stray" ]] || fail "$what: build helpers installed: ${stray//$'\n'/ }"

    local entry="$root/usr/share/applications/quarrow.desktop"
    if [[ -f "$entry" ]]; then
        desktop-file-validate "$entry" || fail "$what: desktop-file-validate rejects the entry"
        for key in 'Exec=quarrow %f' 'Icon=quarrow' 'Terminal=false' 'Type=Application' 'Name=Quarrow'; do
            grep -qx "$key" "$entry" || fail "$what: desktop entry lacks $key"
        done
        grep -q '^MimeType=.*application/x-cd-image;' "$entry" ||
            fail "$what: desktop entry does not offer to open disc images"
    else
        fail "$what: no desktop entry"
    fi

    local icons="$root/usr/share/icons/hicolor"
    [[ -f "$icons/scalable/apps/quarrow.svg" ]] || fail "$what: no scalable icon"
    local size png
    for size in "${icon_sizes[@]}"; do
        png="$icons/${size}x${size}/apps/quarrow.png"
        if [[ -f "$png" ]]; then
            file -b "$png" | grep -q "^PNG image data, $size x $size," ||
                fail "$what: $png is not a $size px PNG: $(file -b "$png")"
        else
            fail "$what: no $size px icon"
        fi
    done

    local xml="$root/usr/share/mime/packages/x-quarrow-descriptor.xml"
    if [[ -f "$xml" ]]; then
        grep -q 'type="text/x-quarrow-descriptor"' "$xml" || fail "$what: MIME package lacks the type"
        grep -q '<glob pattern="\*\.brw"/>' "$xml" || fail "$what: MIME package lacks the glob"
        # The database is what desktops read: the package must compile and map *.brw.
        if command -v update-mime-database >/dev/null; then
            cp -r "$root/usr/share/mime" "$tmp/mime-$what"
            update-mime-database "$tmp/mime-$what" >"$tmp/mime-$what.log" 2>&1 ||
                fail "$what: update-mime-database failed: $(cat "$tmp/mime-$what.log")"
            grep -qx '50:text/x-quarrow-descriptor:\*\.brw' "$tmp/mime-$what/globs2" ||
                fail "$what: the compiled MIME database does not map *.brw"
        fi
    else
        fail "$what: no MIME package"
    fi

    [[ -f "$root/usr/share/man/man1/quarrow.1.gz" ]] || fail "$what: no manual page"

    local metainfo="$root/usr/share/metainfo/invalid.quarrow.quarrow.metainfo.xml"
    if [[ -f "$metainfo" ]]; then
        appstreamcli validate --no-net "$metainfo" || fail "$what: appstreamcli rejects the metainfo"
        grep -qF '<launchable type="desktop-id">quarrow.desktop</launchable>' "$metainfo" ||
            fail "$what: the metainfo does not launch quarrow.desktop"
    else
        fail "$what: no AppStream metainfo"
    fi

    local doc="$root/usr/share/doc/quarrow"
    cmp -s "$doc/copyright" "$source_root/dist/copyright" || fail "$what: no or another copyright file"
    [[ -f "$doc/README.md" ]] || fail "$what: no README.md, which the metainfo and manual name"
    # The newest changelog entry is the version being packed.
    local top
    top=$(gzip -cd "$doc/changelog.gz" | head -1) || fail "$what: no or a broken changelog.gz"
    [[ "$top" == "quarrow ($version) "* ]] || fail "$what: the changelog starts with '$top'"
}

# The installed MIME package must say what the program writes per user when the type is
# unknown; both are in the source tree, so compare them line by line.
xml="$source_root/dist/x-quarrow-descriptor.xml"
code="$source_root/src/desktop/DescriptorType.cpp"
header="$source_root/src/desktop/DescriptorType.h"
grep -qF 'kMimeTypeName[] = "text/x-quarrow-descriptor"' "$header" ||
    fail "the program's MIME type name is no longer text/x-quarrow-descriptor"
grep -qF 'kPackageFileName[] = "x-quarrow-descriptor.xml"' "$header" ||
    fail "the program's MIME package file name is no longer x-quarrow-descriptor.xml"
while IFS= read -r line; do
    if [[ "$line" == *'<mime-type type='* ]]; then
        [[ "$line" == '  <mime-type type="text/x-quarrow-descriptor">' ]] ||
            fail "dist MIME package: unexpected type line: $line"
        continue
    fi
    grep -qF -- "\"${line//\"/\\\"}\\n\"" "$code" ||
        fail "dist/x-quarrow-descriptor.xml differs from DescriptorType::PackageXml() at: $line"
done <"$xml"

# cmake --install, as a distribution's packaging would run it.
DESTDIR="$tmp/install" "$cmake" --install "$build" --prefix /usr >/dev/null
check_tree "$tmp/install" install

# The package, built outside the build folder so that runs never see each other's files.
"$cpack" -G DEB -B "$tmp/cpack" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
}
arch=$(dpkg --print-architecture)
deb="$tmp/cpack/quarrow_${version}_${arch}.deb"
[[ -f "$deb" ]] || { echo "FAIL: no $(basename "$deb"); cpack made: $(ls "$tmp/cpack")" >&2; exit 1; }

dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == quarrow ]] || fail "Package is '$(field Package)'"
[[ "$(field Version)" == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ "$(field Architecture)" == "$arch" ]] || fail "Architecture is '$(field Architecture)', not $arch"
[[ "$(field Section)" == utils ]] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" == 'Quarrow developers <dev@quarrow.invalid>' ]] ||
    fail "Maintainer is '$(field Maintainer)'"
[[ -n "$(field Description)" ]] || fail "no Description"

# Depends: a comma-separated list of alternatives, each optionally versioned.
depends=$(field Depends | tr ',' '\n' | sed -E 's/^ +//; s/ *\(.*\)//')
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 \
    libglib2.0-0 qt6-qpa-plugins shared-mime-info; do
    grep -qx "$package" <<<"$depends" || fail "Depends lacks $package: $(field Depends)"
done
grep -Eq '^lib(a|t|ub)san' <<<"$depends" && fail "Depends names a sanitizer runtime"
recommends=$(field Recommends)
grep -qF 'adwaita-icon-theme | breeze-icon-theme' <<<"$recommends" ||
    fail "Recommends lacks the icon themes: $recommends"
grep -qF 'hicolor-icon-theme' <<<"$recommends" || fail "Recommends lacks hicolor-icon-theme"

# dpkg's triggers refresh the caches; a maintainer script would only duplicate them.
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '^$' | sort | tr '\n' ' ')
[[ "$control" == "control md5sums " ]] || fail "unexpected control members: $control"

# The package holds exactly what cmake --install installs, and the same checks hold for it.
dpkg-deb -c "$deb"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort >"$tmp/deb.list"
(cd "$tmp/install" && find . ! -type d | sed 's|^\./||' | sort) >"$tmp/install.list"
diff -u "$tmp/install.list" "$tmp/deb.list" || fail "the package's files differ from cmake --install's"
dpkg-deb -x "$deb" "$tmp/deb"
check_tree "$tmp/deb" deb
for program in usr/bin/quarrow usr/libexec/quarrow/quarrow-disc-view; do
    file -b "$tmp/deb/$program" | grep -q ', stripped' || fail "$program is not stripped"
done
bad_modes=$(dpkg-deb -c "$deb" | awk '($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
    ($1 ~ /^-/ && $1 != "-rw-r--r--" && $6 != "./usr/bin/quarrow" &&
    $6 != "./usr/libexec/quarrow/quarrow-disc-view") { print $1, $6 }')
[[ -z "$bad_modes" ]] || fail "unexpected permissions: $bad_modes"

# Quarrow reads untrusted discs: lintian must find neither an error nor a missing hardening
# flag. Other tags are shown for the reader.
lintian_status=0
lintian --pedantic -I --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1 || lintian_status=$?
echo "--- lintian"
cat "$tmp/lintian.log"
echo "--- end of lintian"
# 1 means error tags, found below; anything else is lintian failing to run.
((lintian_status <= 1)) || fail "lintian did not run (status $lintian_status)"
bad_tags=$(grep -E '^E: |^[A-Z]: [^ ]+: hardening-' "$tmp/lintian.log" || true)
[[ -z "$bad_tags" ]] || fail "lintian: $bad_tags"

if ((failures > 0)); then
    echo "$failures packaging check(s) failed" >&2
    exit 1
fi
echo "packaging checks passed: $(basename "$deb")"
