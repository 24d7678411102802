#!/usr/bin/env bash
# Builds the documentation (Sphinx, docs/) into build/docs/html and runs the
# guide's examples. Warnings are errors; the figures are drawn from the bundled
# demo files while building.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
[ -x "$venv/bin/python" ] || bash scripts/setup.sh
# The third-party part of the `docs` extra (kestrel itself is installed by setup.sh).
"$venv/bin/python" -m pip --disable-pip-version-check -q install "sphinx>=8" "furo>=2024.8" "matplotlib>=3.8" \
  2> >(grep -v "^WARNING: Location" >&2)
export MPLBACKEND=Agg
"$venv/bin/python" -m sphinx -W --keep-going -q -b html -d build/docs/doctrees docs build/docs/html
# The guide's examples, run (the pages parsed above are reused).
"$venv/bin/python" -m sphinx -W --keep-going -q -b doctest -d build/docs/doctrees docs build/docs/doctest
echo "docs: build/docs/html/index.html"
