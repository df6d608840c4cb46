#!/usr/bin/env bash
# The main thread while one regulator of two is silent: vexa-sim answers address 0 only, 40 registers
# of each address are polled at 3 s. Prints the longest main-thread gap (goal: under 50 ms) and the
# reads per second of the present regulator.
# usage: tests/bench/silent_bench.sh [SECONDS]   (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target silent_bench vexa-sim >/dev/null
"$build/tests/bench/silent_bench" "$build/vexa-sim" "${1:-60}"
