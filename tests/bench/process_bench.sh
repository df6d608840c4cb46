#!/usr/bin/env bash
# The process tick with 10 processes of 5 command nodes on the simulated network, on the system clock
# as the program runs it: per tick the main thread's longest stretch outside its event loop (goal:
# under 50 ms), told beside a control thread's wake-up lateness, and the writes left on their way.
# usage: tests/bench/process_bench.sh [TICKS]   (default 3, 10 s each)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target process_bench >/dev/null
"$build/tests/bench/process_bench" "${1:-3}"
