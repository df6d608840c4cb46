#!/usr/bin/env bash
# The historian's cost: ingest of 5,000 registers every 3 s (the writer thread's CPU share), disk
# per raw read, a year of one register queried at 1 h and 31 days at 1 min, and its size.
# usage: tests/bench/historian_bench.sh [SECONDS]   (default 65, of ingest)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target historian_bench >/dev/null
"$build/tests/bench/historian_bench" "${1:-65}"
