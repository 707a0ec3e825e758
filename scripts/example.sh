#!/usr/bin/env bash
# Builds the programs, generates a rate-3 test code and runs the decoder on a short stream.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QAREL_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target qarel_ldpc_bch_decode qarel_dtmb_testgen

work="$build/example"
mkdir -p "$work"
testgen="$build/tools/testgen/qarel_dtmb_testgen"
"$testgen" code --rate 3 --out "$work/rate3.alist"
# Eight FEC frames of a generated transport stream, sent over BPSK at Es/N0 3 dB.
"$testgen" stream --rate 3 --alist "$work/rate3.alist" --frames 8 --channel bpsk --esn0-db 3 \
    --ts-out "$work/source.ts" --out "$work/noisy.llr"
echo "decoding $work/noisy.llr with $work/rate3.alist:"
"$build/decoder/cli/qarel_ldpc_bch_decode" --fec-rate 3 --alist "$work/rate3.alist" "$work/noisy.llr" "$work/out.ts"
if cmp -s "$work/source.ts" "$work/out.ts"; then
    echo "decoded transport stream $work/out.ts equals the source $work/source.ts"
else
    echo "decoded transport stream differs from the source" >&2
    exit 1
fi
