#!/usr/bin/env bash
# What one silent regulator costs the other on the line: 40 registers of an answering regulator are
# polled at 3 s beside another regulator, first answering, then silent, in one run of vexa-sim. Prints
# the answering regulator's reads per second with the silent one as a share of its reads with both
# answering (goal: 90 % or more) and the main thread's longest stretch outside its event loop (goal:
# under 50 ms) beside a control thread's wake-up lateness, which is the machine's own.
# usage: tests/bench/silent_bench.sh [SECONDS]   (default 60, both phases together)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target silent_bench vexa-sim >/dev/null
"$build/tests/bench/silent_bench" "$build/vexa-sim" "${1:-60}"
