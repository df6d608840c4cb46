#!/usr/bin/env bash
# The simulated week: vexa-cli run on the virtual clock over a folder of 500 polled registers (every
# second one with a value label), 5 running processes and 5 periodic reports (1 min samples, 1 h
# windows). Prints the wall time, the peak memory of a one-day run and of the whole run (goal: within
# 5 %: histories and logs are bounded), the archives against one per report per finished hour (none
# missing, none twice), the errors in the run's log (goal: none), and whether an independent reader
# (python3-olefile) opens every archive.
# usage: tests/bench/week_bench.sh [DAYS]   (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VEXA_BUILD_DIR:-$root/build}
days=${1:-7}
start="07.12.2026 0:00:00"
cmake -S "$root" -B "$build" -G Ninja -DVEXA_BENCH=ON >/dev/null
cmake --build "$build" --target week_bench vexa-cli >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run NAME DAYS: a fresh folder run for DAYS simulated days; its peak memory (KiB) and wall time (s)
# in $work/NAME.time, its standard output and error in $work/NAME.log.
run() {
  "$build/tests/bench/week_bench" "$work/$1" "$start" >/dev/null
  /usr/bin/time -f "%M %e" -o "$work/$1.time" \
    "$build/vexa-cli" --demo --dir "$work/$1" run --seconds $(($2 * 86400)) --virtual-clock "$start" \
    >"$work/$1.log" 2>&1 || { echo "vexa-cli failed:"; cat "$work/$1.log"; exit 1; }
}

run day1 1
read -r peak1 wall1 <"$work/day1.time"
if [ "$days" -gt 1 ]; then
  run week "$days"
else
  cp "$work/day1.time" "$work/week.time"
  cp "$work/day1.log" "$work/week.log"
  cp -r "$work/day1" "$work/week"
fi
read -r peak wall <"$work/week.time"

echo "simulated $days day(s): 500 registers (250 with labels), 5 processes, 5 reports of 1 min samples in 1 h windows"
echo "wall time: $wall s for $days day(s), $wall1 s for day 1 ($(awk "BEGIN{printf \"%.1f\", $wall/$days}") s per day)"
echo "peak memory: day 1 $((peak1 / 1024)) MiB, day $days $((peak / 1024)) MiB ($(awk "BEGIN{printf \"%+.1f\", ($peak-$peak1)*100/$peak1}") %, goal within 5 %)"
pattern='error|warning|critical|fatal|ошибк|cannot|failed'
errors=$(grep -ciE "$pattern" "$work/week.log" || true)
echo "log lines telling an error: $errors of $(wc -l <"$work/week.log") (goal: 0)"
if [ "$errors" -ne 0 ]; then grep -iE "$pattern" "$work/week.log" | head -5; fi

/usr/bin/python3 - "$work/week/Archives" "$days" <<'PY'
import datetime, os, sys
import olefile
folder, days = sys.argv[1], int(sys.argv[2])
start = datetime.datetime(2026, 12, 7, 0, 0)
expected = {f"Отчет{r}_{(start + datetime.timedelta(hours=h)).strftime('%d_%m_%Y_%H%M')}"
            for r in range(5) for h in range(24 * days)}
found = set(os.listdir(folder))
print(f"archives: {len(found)} (expected {len(expected)}: one per report per finished hour); "
      f"missing {len(expected - found)}, unexpected {len(found - expected)}")
for name in sorted(expected - found)[:5]: print("  missing", name)
for name in sorted(found - expected)[:5]: print("  unexpected", name)
opened = 0
for name in sorted(found):
    path = os.path.join(folder, name)
    if not olefile.isOleFile(path):
        print("  not an OLE file:", name); continue
    with olefile.OleFileIO(path) as ole:
        if ole.exists("Object") and ole.openstream("Object").read(4) == b"TPF0": opened += 1
        else: print("  no component stream:", name)
print(f"python3-olefile opened {opened} of {len(found)} archives")
sys.exit(0 if opened == len(found) == len(expected) else 1)
PY
