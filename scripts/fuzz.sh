#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UndefinedBehavior-
# Sanitizer on) and runs each for SECONDS (default 30), starting from the seeds in
# fuzz/corpus plus codes made by qarel_dtmb_testgen. Prints executions, coverage and the
# outcome per target; exits 1 when any target found a crash, a leak, a hang or a wrong answer
# (the inputs are kept under build-fuzz/artifacts/). Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# QAREL_FUZZ_OPTIONS adds libFuzzer options, e.g. "-runs=10000000" for a fixed count.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_alist fuzz_command_line fuzz_pipe_options fuzz_pipe_copy fuzz_decoder_run)
fi
build="${QAREL_FUZZ_BUILD_DIR:-$root/build-fuzz}"
mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQAREL_BUILD_TESTS=OFF -DQAREL_BUILD_BENCH=OFF \
    -DQAREL_BUILD_FUZZERS=ON > "$build/configure.log"
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
mkdir -p "$build/artifacts" "$build/logs"

# Per target: its dictionary; the alist reader gets inputs up to 8 KiB (a generated code's
# file, 100 KiB, is a seed, but mutating files of that size would slow it down a hundredfold).
options_of() {
    case "$1" in
        fuzz_alist) echo "-max_len=8192" ;;
        fuzz_command_line | fuzz_decoder_run) echo "-dict=$root/fuzz/decoder_options.dict" ;;
        fuzz_pipe_options) echo "-dict=$root/fuzz/pipe_options.dict" ;;
    esac
}

failed=0
printf '%-20s %12s %8s  %s\n' target executions coverage outcome
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    cp -n "$root/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    if [ "$target" = fuzz_alist ] && [ ! -e "$corpus/generated-rate3.alist" ]; then
        "$build/tools/testgen/qarel_dtmb_testgen" code --rate 3 --out "$corpus/generated-rate3.alist"
    fi
    log="$build/logs/$target.log"
    outcome=ok
    # shellcheck disable=SC2046
    if ! "$build/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$target-" ${QAREL_FUZZ_OPTIONS:-} $(options_of "$target") > "$log" 2>&1; then
        outcome="FAILED (see $log)"
        failed=1
    fi
    executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    coverage="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)"
    printf '%-20s %12s %8s  %s\n' "$target" "${executions:-0}" "${coverage:-0}" "$outcome"
done
exit "$failed"
