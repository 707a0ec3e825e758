#!/usr/bin/env bash
# End-to-end speed of qarel_ldpc_bch_decode on generated rate-3 streams (3 codewords a frame,
# BPSK over AWGN): an easy point (Es/N0 3.3 dB, every codeword clean after a few iterations)
# and one near the threshold (2.25 dB, a few codewords failing). Each stream is decoded by
# this build's default kernel, by this build forced to the plain decoder, and by a baseline
# binary when QAREL_BASELINE_DECODER names one, all in the same run, since machines drift.
# Prints transport-stream Mbit/s, codewords/s, the share of finalize in the run and the
# ratios to DTMB's top rate and to the baselines (the fastest of three rounds each).
# Usage: bench/decoder_end_to_end.sh [FRAMES] [decoder options...]   (default 2400 frames)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QAREL_BUILD_DIR:-$root/build-release}"
frames="${1:-2400}"
shift || true
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQAREL_BUILD_TESTS=OFF -DQAREL_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" --target qarel_ldpc_bch_decode qarel_dtmb_testgen > /dev/null

decoder="$build/decoder/cli/qarel_ldpc_bch_decode"
testgen="$build/tools/testgen/qarel_dtmb_testgen"
work="$build/bench-end-to-end"
mkdir -p "$work"
[ -e "$work/rate3.alist" ] || "$testgen" code --rate 3 --out "$work/rate3.alist"
dtmb_top_mbps=32.486

# One run of a decoder on stream $1: prints "seconds finalize_ms frames".
run_once() {
    local stream="$1" start end
    shift
    start=$(date +%s.%N)
    "$@" --fec-rate 3 --alist "$work/rate3.alist" --workers "${QAREL_BENCH_WORKERS:-2}" "${extra[@]}" \
        "$work/$stream.llr" /dev/null 2> "$work/summary.txt"
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc -l) $(sed -n 's/^batch_finalize_ms=//p' "$work/summary.txt") $(sed -n 's/^frames=//p' "$work/summary.txt")"
}

decode_with() {  # decoder name, stream
    case "$1" in
        default) run_once "$2" "$decoder" ;;
        plain) QAREL_LDPC_KERNEL=plain run_once "$2" "$decoder" ;;
        baseline) run_once "$2" "$QAREL_BASELINE_DECODER" ;;
    esac
}

extra=("$@")
printf '%-10s %-10s %9s %12s %10s %8s %9s %9s\n' point decoder seconds ts_mbit_s codewords_s finalize real_time vs_plain
for point in easy:3.3 threshold:2.25; do
    name="${point%%:*}"
    esn0="${point##*:}"
    if [ ! -e "$work/$name.llr" ]; then
        "$testgen" stream --rate 3 --alist "$work/rate3.alist" --frames "$frames" --codewords-per-frame 3 \
            --channel bpsk --esn0-db "$esn0" --seed 7 --out "$work/$name.llr" --ts-out "$work/$name.ts" > /dev/null 2>&1
    fi
    ts_bytes=$(stat -c %s "$work/$name.ts")
    runs=(plain default)
    [ -n "${QAREL_BASELINE_DECODER:-}" ] && runs+=(baseline)
    # Rounds over all decoders, so that the machine's drift touches each alike; the fastest
    # run of each counts.
    declare -A best=()
    for _ in 1 2 3; do
        for run in "${runs[@]}"; do
            result=$(decode_with "$run" "$name")
            if [ -z "${best[$run]:-}" ] || [ "$(echo "${result%% *} < ${best[$run]%% *}" | bc -l)" = 1 ]; then
                best[$run]=$result
            fi
        done
    done
    for run in "${runs[@]}"; do
        read -r s finalize_ms frames_done <<< "${best[$run]}"
        mbps=$(echo "$ts_bytes * 8 / $s / 1000000" | bc -l)
        printf '%-10s %-10s %9.3f %12.1f %10.0f %7.1f%% %8.2fx %8.2fx\n' "$name" "$run" "$s" "$mbps" \
            "$(echo "$frames_done * 3 / $s" | bc -l)" "$(echo "$finalize_ms / 10 / $s" | bc -l)" \
            "$(echo "$mbps / $dtmb_top_mbps" | bc -l)" "$(echo "${best[plain]%% *} / $s" | bc -l)"
    done
    if [ -n "${QAREL_BASELINE_DECODER:-}" ]; then
        printf '%-10s speed-up over the baseline: %.2fx\n' "$name" "$(echo "${best[baseline]%% *} / ${best[default]%% *}" | bc -l)"
    fi
    unset best
done
