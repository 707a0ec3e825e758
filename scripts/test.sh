#!/usr/bin/env bash
# Builds the project and runs the whole test suite. With QAREL_SANITIZE set (for example
# address,undefined or thread) it builds with those sanitizers in a folder of its own.
# Extra arguments go to ctest (for example -R RunDriver).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize="${QAREL_SANITIZE:-}"
build="${QAREL_BUILD_DIR:-$root/build${sanitize:+-${sanitize//,/-}}}"
jobs="$(nproc 2>/dev/null || echo 2)"
# Sanitizer builds leave out the benchmarks, which they would only slow down.
bench=ON
if [ -n "$sanitize" ]; then bench=OFF; fi
cmake -S "$root" -B "$build" -G Ninja -DQAREL_BUILD_TESTS=ON -DQAREL_BUILD_BENCH="$bench" -DQAREL_SANITIZE="$sanitize"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@"
