#!/usr/bin/env bash
# Builds and runs the network state benchmark in a build folder (a release build for the figures).
# usage: tests/bench/state_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target state_bench >/dev/null
"$build/tests/bench/state_bench"
