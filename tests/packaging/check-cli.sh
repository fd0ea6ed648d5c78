#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The command line in an empty environment, as over ssh or in CI: --help and --version answer
# and exit 0 without a display; Qt's own options stay Qt's; anything else fails with the usage.
#
#   check-cli.sh <quarrow executable> <project version>
set -uo pipefail

exe=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Sanitizer builds still need their options (suppressions, exit codes).
bare=(env -i)
for var in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS; do
    [[ -n "${!var:-}" ]] && bare+=("$var=${!var}")
done

# run <expected status> [VAR=value...] <arguments...>: leaves stdout in $out, stderr in $err.
run() {
    local expected=$1 status=0
    shift
    local vars=()
    while [[ "${1:-}" == *=* ]]; do vars+=("$1"); shift; done
    "${bare[@]}" "${vars[@]}" "$exe" "$@" >"$tmp/out" 2>"$tmp/err" || status=$?
    out=$(<"$tmp/out")
    err=$(<"$tmp/err")
    [[ "$status" == "$expected" ]] ||
        fail "quarrow $* exited $status, not $expected; stderr: $err"
}

for option in --help -h; do
    run 0 "$option"
    [[ "$out" == *Usage:*--help*--version* ]] || fail "quarrow $option printed: $out"
    [[ -z "$err" ]] || fail "quarrow $option wrote to stderr: $err"
done
for option in --version -v; do
    run 0 "$option"
    [[ "$out" == "quarrow $version" ]] || fail "quarrow $option printed: $out"
done

# Only the QApplication knows -platform: the first reading must leave it, not reject it.
run 0 -platform offscreen --version
[[ "$out" == "quarrow $version" ]] || fail "quarrow -platform offscreen --version printed: $out"

run 0 --help
[[ "$out" == *PATH* ]] || fail "quarrow --help does not tell of PATH: $out"

# One PATH is taken; the second is the unexpected one.
for arguments in --bogus "first stray"; do
    read -ra words <<<"$arguments"
    run 2 QT_QPA_PLATFORM=offscreen "${words[@]}"
    [[ "$err" == *"'${words[-1]#--}'"*Usage:* ]] || fail "quarrow $arguments wrote: $err"
    [[ -z "$out" ]] || fail "quarrow $arguments wrote to stdout: $out"
done

# With no display at all: the usage for a wrong option, else a word on the display, never
# Qt's abort.
run 2 --bogus
[[ "$err" == *"'bogus'"*Usage:* ]] || fail "quarrow --bogus without a display wrote: $err"
run 1
[[ "$err" == *"no display"* ]] || fail "quarrow without a display wrote: $err"

((failures == 0)) || { echo "$failures command-line check(s) failed" >&2; exit 1; }
echo "command-line checks passed"
