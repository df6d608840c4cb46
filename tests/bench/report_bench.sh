#!/usr/bin/env bash
# 20 reports of 50 registers sampling every second in one-hour windows on the simulated network, on
# a clock that moves only when slept on: the main thread's work per report tick and the archives'
# sizes.
# usage: tests/bench/report_bench.sh [HOURS]   (default 24: a simulated day)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target report_bench >/dev/null
"$build/tests/bench/report_bench" "${1:-24}"
