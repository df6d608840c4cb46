#!/usr/bin/env bash
# A plant of 50,000 registers: save, start-up to the window shown, the structure window's tree and
# the poller's CPU with 5,000 registers polled.
# usage: tests/bench/scale_bench.sh [POLL_SECONDS]   (default 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target scale_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tests/bench/scale_bench" "${1:-20}"
