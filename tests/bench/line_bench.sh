#!/usr/bin/env bash
# Line throughput over vexa-sim at 19200 and 115200 bit/s against the exchange's own timing rules.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target line_bench vexa-sim
"$build/tests/bench/line_bench" "$build/vexa-sim" "${1:-10}"
