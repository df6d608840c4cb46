#!/usr/bin/env bash
# 200 value labels on one page, polled in simulation at 3 s: the main thread's share of one core with
# the labels, and without them (the same registers polled bare); the difference is what the labels
# cost. Goal for the labels: under 5 % of one core.
# usage: tests/bench/label_bench.sh [SECONDS]   (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target label_bench >/dev/null
seconds=${1:-30}
bare=$("$build/tests/bench/label_bench" "$seconds" plain 2>/dev/null | sed -n 's/^main thread busy: \([0-9.]*\) ms.*/\1/p')
with=$("$build/tests/bench/label_bench" "$seconds" 2>/dev/null | sed -n 's/^main thread busy: \([0-9.]*\) ms.*/\1/p')
awk -v bare="$bare" -v with="$with" 'BEGIN {
  share = (with - bare) / 10
  printf "main thread busy per second: %.1f ms with 200 labels, %.1f ms without\n", with, bare
  printf "the labels: %.1f ms per second = %.2f %% of one core (goal < 5 %%): %s\n", with - bare, share,
         share < 5 ? "met" : "not met"
  exit share < 5 ? 0 : 1
}'
