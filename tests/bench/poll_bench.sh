#!/usr/bin/env bash
# The poller on the 75 registers of the simulated network (all it has; LoggingInterval 3) for 60 s of
# real time. Goals: below 0.05 CPU seconds per wall second, and a mean read period within 1 s of 3 s;
# a run that polled another number of registers than it asked for meets neither.
# Usage: tests/bench/poll_bench.sh [path/to/vexa-cli]   (default: $VEXA_BUILD_DIR or build/)
# Exit 0 when both goals are met.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cli=${1:-${VEXA_BUILD_DIR:-$root/build}/vexa-cli}
seconds=${POLL_BENCH_SECONDS:-60}
registers=75
if [ ! -x "$cli" ]; then
  echo "poll_bench: no vexa-cli at $cli (build first, or give its path)" >&2
  exit 2
fi

# An empty folder: no Config/NET.cfg, so --demo polls the simulated network.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
out=$("$cli" --dir "$dir" --demo poll --seconds "$seconds" --registers "$registers")
echo "$out"

# The figures come with the regional decimal separator; awk reads a point.
cpu=$(sed -n 's/^процессорное время на секунду работы, с: //p' <<<"$out" | tr , .)
period=$(sed -n 's/^средний период чтения, с: //p' <<<"$out" | tr , .)
polled=$(sed -n 's/^опрошено регистров: //p' <<<"$out")
awk -v cpu="$cpu" -v period="$period" -v polled="$polled" -v asked="$registers" 'BEGIN {
  if (polled != asked) printf "registers polled: %s, asked for %s\n", polled, asked
  cpuOk = polled == asked && cpu != "" && cpu + 0 < 0.05
  periodOk = polled == asked && period ~ /^[0-9.]+$/ && period - 3 <= 1 && 3 - period <= 1
  printf "CPU seconds per wall second: %s (goal < 0.05): %s\n", cpu, cpuOk ? "met" : "not met"
  printf "mean read period: %s s (goal 3 s +- 1 s): %s\n", period, periodOk ? "met" : "not met"
  exit (cpuOk && periodOk) ? 0 : 1
}'
