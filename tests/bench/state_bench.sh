#!/usr/bin/env bash
# Builds and runs the network state benchmark against the libraries of a release build.
# usage: tests/bench/state_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" vexa_model >/dev/null
g++ -std=c++20 -O2 -DQT_NO_KEYWORDS -I"$root" -I"$build/generated" $(pkg-config --cflags Qt6Core) \
  "$root/tests/bench/state_bench.cpp" "$build/libvexa_model.a" "$build/libvexa_storage.a" \
  "$build/libvexa_line.a" $(pkg-config --libs Qt6Sql Qt6Core) -lpthread -o "$build/state_bench"
"$build/state_bench"
