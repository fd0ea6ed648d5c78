#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Quarrow and runs the soak test (CTest label "soak"): hundreds of scans and thousands
# of selections in one process, then prints its resident memory figures and how long it took.
#   scripts/soak.sh [release|address|both]   Release in build-soak/, ASan+UBSan in
#                                            build-soak-asan/; both by default
#   QUARROW_SOAK_ROUNDS=20 scripts/soak.sh   a short run (200 rounds by default)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
what="${1:-both}"
case "$what" in
    release | address | both) ;;
    *) echo "usage: $0 [release|address|both]" >&2; exit 2 ;;
esac
"$here/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
supp="$here/tests/sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"

# soak NAME FOLDER BUILD_TYPE SANITIZER: builds the soak test alone and runs it through CTest.
soak() {
    local name=$1 dir="$here/$2" type=$3 sanitize=$4
    echo "== $name: building in $2"
    cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
          -DQUARROW_SANITIZE="$sanitize" -DQUARROW_BUILD_BENCH=OFF >/dev/null
    cmake --build "$dir" -j2 --target quarrow_soak_tests
    echo "== $name: running (log in $2/soak.log)"
    local start=$SECONDS status=0
    (cd "$dir" && ctest -L soak -V) >"$dir/soak.log" 2>&1 || status=$?
    local elapsed=$((SECONDS - start))
    # CTest puts the test's number before each line it passes on.
    sed -n 's/^[0-9]*: soak: /  /p' "$dir/soak.log"
    if grep -q "LeakSanitizer" "$dir/soak.log"; then
        echo "  LeakSanitizer reported leaks"
        status=1
    fi
    if [[ $status -ne 0 ]]; then
        tail -n 60 "$dir/soak.log"
        echo "== $name: FAILED after ${elapsed} s"
        return 1
    fi
    echo "== $name: passed in ${elapsed} s"
}

failed=0
if [[ "$what" == release || "$what" == both ]]; then
    soak release build-soak Release "" || failed=1
fi
if [[ "$what" == address || "$what" == both ]]; then
    soak address build-soak-asan RelWithDebInfo address || failed=1
fi
exit $failed
