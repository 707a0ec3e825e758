#!/usr/bin/env bash
# Throughput of qarel_pipe_buffer against plain cat on the same data through real pipes.
# Usage: bench/pipe_buffer_throughput.sh [MiB] [pipe buffer options...]   (default 2048 MiB)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QAREL_BUILD_DIR:-$root/build}"
mib="${1:-2048}"
shift || true
cmake -S "$root" -B "$build" -G Ninja > /dev/null
cmake --build "$build" --target qarel_pipe_buffer > /dev/null

seconds() {
    local start end
    start=$(date +%s.%N)
    head -c "$((mib * 1048576))" /dev/zero | "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

best() {  # the fastest of three runs
    local best_time="" t
    for _ in 1 2 3; do
        t=$(seconds "$@")
        if [ -z "$best_time" ] || [ "$(echo "$t < $best_time" | bc -l)" = 1 ]; then best_time=$t; fi
    done
    echo "$best_time"
}

cat_s=$(best cat)
pipe_s=$(best "$build/pipe_buffer/qarel_pipe_buffer" --diagnostics-out /dev/null "$@")
printf 'data: %d MiB\n' "$mib"
printf 'cat:               %8.3f s  %8.1f MiB/s\n' "$cat_s" "$(echo "$mib / $cat_s" | bc -l)"
printf 'qarel_pipe_buffer: %8.3f s  %8.1f MiB/s\n' "$pipe_s" "$(echo "$mib / $pipe_s" | bc -l)"
printf 'throughput ratio (pipe buffer / cat): %.2f\n' "$(echo "$cat_s / $pipe_s" | bc -l)"
