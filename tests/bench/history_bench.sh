#!/usr/bin/env bash
# The history window's repaint with a full history (goal: under 20 ms), and the main thread's busy
# time with 200 polled labels with and without 10 history windows open on them (goal: no measurable
# difference).
# usage: tests/bench/history_bench.sh [SECONDS]   (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target history_bench label_bench >/dev/null
seconds=${1:-30}
"$build/tests/bench/history_bench" 500 2>/dev/null
labels=$("$build/tests/bench/label_bench" "$seconds" 2>/dev/null | sed -n 's/^main thread busy: \([0-9.]*\) ms.*/\1/p')
with=$("$build/tests/bench/label_bench" "$seconds" histories 2>/dev/null | sed -n 's/^main thread busy: \([0-9.]*\) ms.*/\1/p')
awk -v labels="$labels" -v with="$with" 'BEGIN {
  printf "main thread busy per second with 200 labels: %.1f ms; with 10 history windows open as well: %.1f ms\n", labels, with
  printf "the history windows: %.1f ms per second = %.2f %% of one core\n", with - labels, (with - labels) / 10
}'
