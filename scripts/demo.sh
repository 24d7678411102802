#!/usr/bin/env bash
# The demo: sets up what kestrel needs to run (not the test tools), then shows
# the `kestrel` command on the bundled demo file: the listing, `info`, a plot
# written to a file, and a collection of a folder of spectra it writes. The
# outputs land in build/demo/.
# `demo.sh FILE...` runs `kestrel FILE...` on your own files instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
start=$SECONDS
echo "demo: setting up (a fresh clone builds kestrel first, about a minute)"
bash scripts/setup.sh --demo
venv="${KESTREL_VENV:-$root/.venv}"
[ $# -eq 0 ] || exec "$venv/bin/kestrel" "$@"

demo=src/kestrel_tools/data/demo.0
out=build/demo
rm -rf "$out"
mkdir -p "$out"
export MPLBACKEND=Agg
run() {  # shows a command, then runs it
  printf '\n$ %s\n' "$*"
  "$@"
}
PATH="$venv/bin:$PATH"

echo
echo "demo: the blocks and pictures of the bundled demo file"
run kestrel "$demo"
echo
echo "demo: what the file says about the measurement, and each block's shape"
run kestrel info "$demo"
echo
echo "demo: the absorbance map integrated over the C-H stretching band, as a picture"
run kestrel plot "$demo" --band 2800:3000 --out "$out/map.png"
echo
echo "demo: a folder of six spectra taken while the film cures, read into one table"
python scripts/make_demo.py --folder "$out/curing" >/dev/null
run kestrel collect "$out/curing" --out "$out/curing.csv" --no-progress
printf '\n$ # the table: a row per file (its path, block and metadata first), a column per wavenumber; here the column nearest 2920 cm-1\n'
python - "$out/curing.csv" <<'PY'
import csv, os, sys
from kestrel_tools import model
# A collection's table starts with its key columns (file, block, the metadata); the x values follow.
keys = len(model.KINDS["collection"].wide_keys)
with open(sys.argv[1], newline="") as table:
    header, *rows = csv.reader(table)
x = [float(v) for v in header[keys:]]
i = keys + min(range(len(x)), key=lambda k: abs(x[k] - 2920.0))
acquired = header.index("acquired")
print(f"{'file':<16} {'acquired (UTC)':<22} absorbance at {float(header[i]):.1f} cm-1")
for row in rows:
    print(f"{os.path.basename(row[0]):<16} {row[acquired]:<22} {float(row[i]):.3f}")
PY
echo
echo "demo: done in $((SECONDS - start)) s; the picture and the table are in $out/"
