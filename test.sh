#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Quarrow and runs the whole test suite through CTest.
#   ./test.sh                 a normal build in build/
#   ./test.sh address|thread  a sanitizer build in build-asan/ or build-tsan/
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sanitize="${1:-}"
case "$sanitize" in
    "") dir=build ;;
    address) dir=build-asan ;;
    thread) dir=build-tsan ;;
    *) echo "usage: $0 [address|thread]" >&2; exit 2 ;;
esac
"$here/scripts/install-deps.sh"
werror=OFF
[[ -n "${CI:-}" ]] && werror=ON
cmake -S "$here" -B "$here/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQUARROW_SANITIZE="$sanitize" -DQUARROW_WERROR="$werror" >/dev/null
cmake --build "$here/$dir"
export QT_QPA_PLATFORM=offscreen
supp="$here/tests/sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0"
# Quoted: the sanitizers split their options at blanks, and a clone may live in such a path.
export LSAN_OPTIONS="suppressions='$supp/lsan.supp':print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions='$supp/ubsan.supp'"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions='$supp/tsan.supp'"
cd "$here/$dir"
# The soak (label soak) takes long; scripts/soak.sh runs it.
ctest --output-on-failure -j2 --timeout 600 -LE soak
