#!/usr/bin/env bash
# Builds the programs, generates a rate-3 test code and runs the decoder on a short stream.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QAREL_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target qarel_ldpc_bch_decode qarel_dtmb_testgen

work="$build/example"
mkdir -p "$work"
"$build/tools/testgen/qarel_dtmb_testgen" code --rate 3 --out "$work/rate3.alist"
# Four FEC frames of three 7488-bit codewords, as float32 LLRs of 0 (no information yet:
# the test-signal generator's encoder and channel produce real streams).
head -c $((4 * 3 * 7488 * 4)) /dev/zero > "$work/frames.llr"
echo "decoding $work/frames.llr with $work/rate3.alist:"
"$build/decoder/cli/qarel_ldpc_bch_decode" --fec-rate 3 --alist "$work/rate3.alist" "$work/frames.llr" "$work/out.ts"
