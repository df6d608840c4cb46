#!/usr/bin/env bash
# The process tick with 10 processes of 5 command nodes on the simulated network: the waits of the
# line exchanges and of the pauses after writes per tick, and the main thread's own work per command
# node (goal: under 1 ms).
# usage: tests/bench/process_bench.sh [TICKS]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target process_bench >/dev/null
"$build/tests/bench/process_bench" "${1:-60}"
