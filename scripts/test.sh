#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite: the core's C++ tests and
# the Python tests.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
venv="${KESTREL_VENV:-$root/.venv}"

echo "== core C++ tests"
cmake -S . -B build/core-tests -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
  -DKESTREL_PYTHON=OFF -DKESTREL_TESTS=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/core-tests -j 2
ctest --test-dir build/core-tests --output-on-failure

echo "== Python tests"
"$venv/bin/python" -m pytest -q tests
