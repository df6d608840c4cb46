#!/usr/bin/env bash
# 200 value labels on one page, polled in simulation: the main thread's share of one core.
# usage: tests/bench/label_bench.sh [SECONDS]   (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target label_bench
"$build/tests/bench/label_bench" "${1:-30}"
