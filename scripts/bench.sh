#!/usr/bin/env bash
# Runs the benchmarks in bench/ one after another and prints, at the end, one
# line per target they measure: name, figure, target, PASS or MISS, with the
# machine, its load and the date. Full output of each script goes to
# build/bench/<script>.log.
#
#   bash scripts/bench.sh              # every bench/bench_*.py
#   bash scripts/bench.sh 3d small_2d  # bench/bench_3d.py and bench/bench_small_2d.py only
#
# Set-up first (bash scripts/setup.sh). The exit status is 1 when a script
# fails (an error, or values read that differ from those written); a missed
# target is reported, not an error. Timings on a shared machine are noisy:
# the scripts compare side by side in one run, and the load is printed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${KESTREL_VENV:-$root/.venv}/bin/python"
logs="$root/build/bench"
mkdir -p "$logs"
[ -x "$python" ] || { echo "bench: no $python; run scripts/setup.sh first" >&2; exit 1; }

scripts=()
if [ $# -eq 0 ]; then
  for f in "$root"/bench/bench_*.py; do scripts+=("$f"); done
else
  for name in "$@"; do
    f="$root/bench/bench_${name#bench_}"; f="${f%.py}.py"
    [ -f "$f" ] || { echo "bench: no $f" >&2; exit 1; }
    scripts+=("$f")
  done
fi

load() { cut -d' ' -f1-3 /proc/loadavg; }
cpu="$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
started="$(date -u '+%Y-%m-%d %H:%M UTC')"
load_before="$(load)"
failed=0
failures=()
targets="$(mktemp)"
trap 'rm -f "$targets"' EXIT
for f in "${scripts[@]}"; do
  name="$(basename "$f" .py)"
  echo "== $name (load $(load))"
  if ! (cd "$root/bench" && "$python" "$f") 2>&1 | tee "$logs/$name.log"; then
    echo "bench: $name failed (see $logs/$name.log)" >&2
    failed=1
    failures+=("$name")
  fi
  grep '^TARGET ' "$logs/$name.log" | sed "s/\$/ $name/" >>"$targets"
done

echo
echo "machine: $(nproc) cores, $cpu; load (1, 5, 15 min) $load_before before, $(load) after; $started"
printf '%-56s %10s %10s %-5s %s\n' target measured limit result script
while read -r _ tname measured limit result script; do
  printf '%-56s %10s %10s %-5s %s\n' "$tname" "$measured" "$limit" "$result" "$script"
done <"$targets"
for name in ${failures[@]+"${failures[@]}"}; do
  # A script that stopped early printed only some of its targets (or none).
  printf '%-56s %10s %10s %-5s %s\n' "(every target after the failure)" - - FAIL "$name"
done
echo "$(grep -c ' PASS ' "$targets") met, $(grep -c ' MISS ' "$targets") missed, ${#failures[@]} scripts failed"
exit $failed
