#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a while.
#   scripts/fuzz.sh [-j N] [--seed N] [SECONDS] [TARGET...]
# SECONDS per target (default 60); TARGET among profile, wildcard, pe_icon, description,
# mountinfo, image, cue, iso, udf, fat, ccd, mds (default all). Targets run one after
# another; -j N runs N at once.
# Each run starts from the checked-in seeds (fuzz/corpus/TARGET) copied into a working
# corpus in build-fuzz/corpus/TARGET, which keeps what earlier runs found. Exits non-zero
# when any target crashed, leaked, timed out or ran out of memory; the input that did it
# is kept in build-fuzz/artifacts/TARGET/. --seed N makes the mutations repeat from run to
# run and starts from the checked-in seeds alone, as CI does, so that a CI verdict can be
# reproduced here; without it every run explores anew.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
all_targets=(profile wildcard pe_icon description mountinfo image cue iso udf fat ccd mds)

usage() {
    echo "usage: $0 [-j N] [--seed N] [SECONDS] [TARGET...]  (targets: ${all_targets[*]})" >&2
    exit 2
}

jobs=1
if [[ "${1:-}" == "-j" ]]; then
    [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage
    jobs=$2
    shift 2
fi
seed=
if [[ "${1:-}" == "--seed" ]]; then
    [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage
    seed=$2
    shift 2
fi
seconds=60
if [[ $# -gt 0 ]]; then
    [[ "$1" =~ ^[1-9][0-9]*$ ]] || usage
    seconds=$1
    shift
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
    [[ " ${all_targets[*]} " == *" $t "* ]] || usage
done

"$here/scripts/install-deps.sh" --sanitizers
dir="$here/build-fuzz"
werror=OFF
[[ -n "${CI:-}" ]] && werror=ON
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DQUARROW_SANITIZE=address -DQUARROW_WERROR="$werror" \
      -DQUARROW_BUILD_FUZZ=ON -DQUARROW_BUILD_GUI=OFF -DQUARROW_BUILD_TESTS=OFF \
      -DQUARROW_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j2 --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions='$here/tests/sanitizers/lsan.supp':print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# A seeded run starts from the seeds alone, as a clean clone does.
corpus_of() {
    if [[ -n "$seed" ]]; then echo "$dir/corpus-seeded/$1"; else echo "$dir/corpus/$1"; fi
}

# Runs one target; its whole output goes to a log, its verdict to a status file.
run_one() {
    local t=$1
    local corpus artifacts="$dir/artifacts/$t/" log="$dir/logs/$t.log"
    corpus=$(corpus_of "$t")
    [[ -n "$seed" ]] && rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    rm -f "$log.rc"
    cp -f "$here/fuzz/corpus/$t"/* "$corpus/"
    local args=(-max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -timeout=10
                -artifact_prefix="$artifacts")
    [[ -f "$here/fuzz/$t.dict" ]] && args+=(-dict="$here/fuzz/$t.dict")
    [[ -n "$seed" ]] && args+=(-seed="$seed")
    local rc=0
    "$dir/fuzz/fuzz_$t" "${args[@]}" "$corpus" >"$log" 2>&1 || rc=$?
    echo "$rc" >"$log.rc"
}

started=$SECONDS
running=0
for t in "${targets[@]}"; do
    echo "Fuzzing $t for ${seconds}s..."
    run_one "$t" &
    running=$((running + 1))
    if [[ $running -ge $jobs ]]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=0
echo
printf '%-12s %14s %8s  %s\n' target executions corpus result
for t in "${targets[@]}"; do
    log="$dir/logs/$t.log"
    rc=$(cat "$log.rc" 2>/dev/null || echo "no result")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    files=$(find "$(corpus_of "$t")" -type f | wc -l)
    if [[ "$rc" == 0 ]]; then
        result="nothing found"
    else
        failed=1
        kind=$(grep -o -m1 -E 'ERROR: (libFuzzer: [a-z-]+|AddressSanitizer: [a-z-]+|LeakSanitizer)|runtime error|check failed' "$log" || echo "exit code $rc")
        result="FOUND: $kind"
    fi
    printf '%-12s %14s %8s  %s\n' "$t" "${execs:-?}" "$files" "$result"
    if [[ "$rc" != 0 ]]; then
        grep -E 'check failed|runtime error|^SUMMARY' "$log" | head -n 5 | sed 's/^/    /' || true
        grep -E 'Test unit written to|artifact_prefix' "$log" | sed 's/^/    /' || true
        echo "    log: $log"
    fi
done
echo "Total time: $((SECONDS - started))s"
exit "$failed"
