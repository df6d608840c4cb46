#!/usr/bin/env bash
# The alarms' cost: 5,000 watched registers evaluated on every read (the main thread's CPU share),
# the poller in simulation mode with the alarms attached and without, and 100,000 journal events
# appended and queried by a one-day range (goal: under 50 ms).
# usage: tests/bench/alarm_bench.sh [SECONDS]   (default 20, of polling each way)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target alarm_bench >/dev/null
"$build/tests/bench/alarm_bench" "${1:-20}"
