#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The library's commands without a display, each run on a store of its own: lines and exit
# statuses of --add, --volumes, --search and --forget, usage errors, two adds at once, and
# an add killed mid-way.
#
#   library-cli.sh <quarrow executable>
set -uo pipefail

exe=$1
command -v xorriso >/dev/null || { echo "xorriso is not installed"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
tab=$'\t'

# run <expected status> <arguments...>: stdout in $out, stderr in $err.
run() {
    local expected=$1 status=0
    shift
    env -i HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" "$exe" "$@" >"$tmp/out" 2>"$tmp/err" ||
        status=$?
    out=$(<"$tmp/out")
    err=$(<"$tmp/err")
    [[ "$status" == "$expected" ]] || fail "quarrow $* exited $status, not $expected; stderr: $err"
}

mkdir -p "$tmp/disc/apps/hex" "$tmp/shelf/cds" "$tmp/shelf/loose/docs"
printf '[autorun]\nlabel=Tool Disc\n' >"$tmp/disc/autorun.inf"
printf '[info]\ncategory=Editors\nname=Hex Editor\n[description]\nline1=Edits bytes\n' \
    >"$tmp/disc/apps/hex/hex.brw"
echo x >"$tmp/disc/apps/hex/HEXED.EXE"
xorriso -as mkisofs -R -J -quiet -o "$tmp/shelf/cds/tools.ISO" "$tmp/disc" 2>/dev/null ||
    fail "xorriso"
echo n >"$tmp/shelf/loose/docs/Notes.txt"
mkfifo "$tmp/shelf/cds/stuck.iso"

# The folder holds an image and a FIFO named like one; the plain folder is added by itself.
run 1 --add "$tmp/shelf"
[[ "$out" == *"added${tab}Tool Disc${tab}$tmp/shelf/cds/tools.ISO${tab}1${tab}3"* ]] ||
    fail "--add printed: $out"
[[ "$out" == *"failed${tab}$tmp/shelf/cds/stuck.iso${tab}"?* ]] || fail "--add printed: $out"
rm "$tmp/shelf/cds/stuck.iso"
run 0 --add "$tmp/shelf/loose/"
[[ "$out" == "added${tab}loose${tab}$tmp/shelf/loose${tab}0${tab}1" ]] || fail "--add printed: $out"
run 0 --add "$tmp/shelf"
[[ "$out" == "unchanged${tab}Tool Disc${tab}$tmp/shelf/cds/tools.ISO${tab}1${tab}3" ]] ||
    fail "a second --add printed: $out"

mv "$tmp/shelf/cds/tools.ISO" "$tmp/shelf/renamed.iso"
run 0 --add "$tmp/shelf/renamed.iso"
[[ "$out" == "unchanged${tab}Tool Disc${tab}$tmp/shelf/renamed.iso${tab}1${tab}3" ]] ||
    fail "--add of the renamed image printed: $out"
run 0 --volumes
expected="loose${tab}$tmp/shelf/loose${tab}folder${tab}0${tab}1${tab}present"
[[ "$out" == *"$expected"* && "$out" == *"$tab$tmp/shelf/cds/stuck.iso$tab"*"${tab}failed"* &&
    "$out" == *"Tool Disc${tab}$tmp/shelf/renamed.iso${tab}image${tab}1${tab}3${tab}present"* &&
    "$out" != *tools.ISO* ]] || fail "--volumes printed: $out"

run 0 --search HEX edit
[[ "$out" == "application${tab}Hex Editor${tab}Editors${tab}Tool Disc${tab}$tmp/shelf/renamed.iso${tab}$tmp/shelf/renamed.iso/apps/hex" ]] ||
    fail "--search printed: $out"
run 0 --search hexED.exe
[[ "$out" == "file${tab}HEXED.EXE${tab}Tool Disc${tab}$tmp/shelf/renamed.iso${tab}$tmp/shelf/renamed.iso/apps/hex/HEXED.EXE" ]] ||
    fail "--search of a file printed: $out"
run 0 --search no
[[ "$out" == "file${tab}Notes.txt${tab}loose${tab}$tmp/shelf/loose${tab}$tmp/shelf/loose/docs/Notes.txt" ]] ||
    fail "--search of a short word printed: $out"
run 0 --search nothing-like-it
[[ -z "$out" ]] || fail "--search without hits printed: $out"

mv "$tmp/shelf/loose" "$tmp/shelf/gone"
run 0 --volumes
[[ "$out" == *"loose${tab}$tmp/shelf/loose${tab}folder${tab}0${tab}1${tab}missing"* ]] ||
    fail "--volumes printed: $out"
run 0 --forget "$tmp/shelf/loose"
run 1 --forget "$tmp/shelf/loose"
[[ "$err" == *"$tmp/shelf/loose"* ]] || fail "--forget of nothing wrote: $err"

run 0 --help
[[ "$out" == *--add*--volumes*--search*--forget* ]] || fail "--help printed: $out"
for arguments in "--add" "--search" "--volumes x" "--add --search x" "--forget --bogus x"; do
    read -ra words <<<"$arguments"
    run 2 "${words[@]}"
    [[ -z "$out" && "$err" == *Usage:* ]] || fail "quarrow $arguments wrote: $out / $err"
done

# Two Quarrows adding at once share the store; both finish, every volume kept.
for i in 1 2 3 4; do
    mkdir -p "$tmp/many$i/d$i"
    echo "$i" >"$tmp/many$i/d$i/f$i.txt"
done
for pair in "1 2" "3 4"; do
    read -ra n <<<"$pair"
    env -i HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" "$exe" --add "$tmp/many${n[0]}" \
        "$tmp/many${n[1]}" >"$tmp/out${n[0]}" 2>&1 &
done
wait -n || fail "an add at once failed: $(cat "$tmp/out1" "$tmp/out3")"
wait -n || fail "an add at once failed: $(cat "$tmp/out1" "$tmp/out3")"
run 0 --volumes
[[ $(grep -c "${tab}$tmp/many" <<<"$out") == 4 ]] || fail "--volumes after two adds: $out"

# An add killed mid-way keeps every volume it finished, whole, and a new add finishes it.
for i in $(seq 1 60); do
    mkdir -p "$tmp/kill/v$i/sub"
    printf '[autorun]\nlabel=Killed %s\n' "$i" >"$tmp/kill/v$i/autorun.inf"
    for j in $(seq 1 30); do echo "$j" >"$tmp/kill/v$i/sub/f$j.txt"; done
done
env -i HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" "$exe" --add "$tmp/kill" >"$tmp/killed" 2>&1 &
adder=$!
for _ in $(seq 1 2000); do
    grep -q "^added" "$tmp/killed" && break
    sleep 0.005
done
kill -KILL "$adder" 2>/dev/null
wait "$adder" 2>/dev/null
run 0 --volumes
while IFS=$'\t' read -r state label path apps files; do
    [[ "$state" == added ]] || continue
    [[ "$out" == *"$label$tab$path${tab}folder$tab$apps$tab$files${tab}present"* ]] ||
        fail "a volume added before the kill is not whole: $label"
done <"$tmp/killed"
if command -v sqlite3 >/dev/null; then
    [[ $(sqlite3 "$tmp/data/quarrow/library.sqlite" "PRAGMA integrity_check") == ok ]] ||
        fail "the store is damaged after a kill"
fi
run 0 --add "$tmp/kill"
[[ $(grep -c "${tab}$tmp/kill/v" <<<"$out") == 60 ]] || fail "the add after a kill: $out"

# A store that is no database is set aside; a newer one is refused and left as it was.
rm -f "$tmp/data/quarrow/library.sqlite"*
echo "not a database at all, not at all, really" >"$tmp/data/quarrow/library.sqlite"
run 0 --volumes
[[ "$err" == *library.sqlite*library.sqlite.damaged-* ]] || fail "a damaged store wrote: $err"
if command -v sqlite3 >/dev/null; then
    sqlite3 "$tmp/data/quarrow/library.sqlite" "PRAGMA user_version=7"
    before=$(sha256sum <"$tmp/data/quarrow/library.sqlite")
    run 1 --volumes
    [[ "$err" == *newer* ]] || fail "a newer store wrote: $err"
    [[ $(sha256sum <"$tmp/data/quarrow/library.sqlite") == "$before" ]] || fail "newer store changed"
fi
[[ $(stat -c %a "$tmp/data/quarrow") == 700 ]] || fail "store folder is not 0700"

((failures == 0)) || { echo "$failures library check(s) failed" >&2; exit 1; }
echo "library command-line checks passed"
