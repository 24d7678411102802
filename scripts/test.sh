#!/usr/bin/env bash
# Sets everything up, then runs the whole test suite: the core's C++ tests, the
# Python tests, the same again built for each CPython 3.11 and 3.12 found, the
# same tests against the installed manylinux wheel with the typing checks
# (stubtest, mypy --strict), the core's C++ tests cross-compiled for
# Windows and run under wine, the documentation build, the fuzz harnesses
# replayed over the seed corpus and the regressions, the Python tests again under
# ASan/UBSan, and short fuzz runs of the core (libFuzzer) and of the Python API
# (mutated seeds under ASan/UBSan).
# KESTREL_FUZZ_SMOKE_SECONDS sets the core fuzz run's budget (0 skips both).
# `--quick`: set-up, the C++ tests and the Python tests only (the edit-test loop).
set -euo pipefail
quick=0
[ "${1:-}" = --quick ] && quick=1
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
times=()
stage_name=""
stage_start=$SECONDS
stage() {  # closes the running stage (recording its time) and opens the next
  [ -z "$stage_name" ] || times+=("$(printf '%5ds  %s' $((SECONDS - stage_start)) "$stage_name")")
  stage_name=$1
  stage_start=$SECONDS
  [ "$1" = done ] || echo "== $1"
}
report_times() {
  local status=$?
  [ "$stage_name" = done ] || stage "done"
  printf '%s\n' "stage times:" "${times[@]}"
  [ $status -eq 0 ] || echo "test.sh: failed (exit $status)" >&2
}
trap report_times EXIT

stage "setup"
bash scripts/setup.sh
venv="${KESTREL_VENV:-$root/.venv}"

stage "core C++ tests"
cmake -S . -B build/core-tests -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
  -DKESTREL_PYTHON=OFF -DKESTREL_TESTS=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/core-tests -j 2
ctest --test-dir build/core-tests --output-on-failure

stage "Python tests"
"$venv/bin/python" -m pytest -q tests
[ $quick -eq 0 ] || exit 0

# Scientists' environments lag the newest Python: each older CPython this machine
# has gets its own venv and build folder under build/pyX.Y, and the Python tests.
stage "older Pythons: the build and the Python tests on each CPython 3.11 and 3.12 found"
tested=()
failed=()
skipped=()
for version in 3.11 3.12; do
  if ! python=$(bash scripts/find_python.sh "$version"); then
    echo "Python $version: not found on this machine, skipped"
    skipped+=("$version")
    continue
  fi
  echo "-- Python $version ($python)"
  KESTREL_PYTHON_VERSION=$version KESTREL_VENV="$root/build/py$version/venv" \
    KESTREL_BUILD_DIR="build/py$version/wheel" bash scripts/setup.sh
  if "$root/build/py$version/venv/bin/python" -m pytest -q -p no:cacheprovider tests; then
    tested+=("$version")
  else
    failed+=("$version")
  fi
done
echo "older Pythons: passed ${tested[*]:-none}; failed ${failed[*]:-none}; skipped (not found) ${skipped[*]:-none}"
[ ${#failed[@]} -eq 0 ]

stage "wheel: manylinux build, tests in a fresh venv, stubtest, mypy --strict"
bash scripts/test_wheel.sh

stage "Windows: the core and its C++ tests built with mingw-w64, run under wine"
bash scripts/test_windows_core.sh

stage "documentation (warnings are errors)"
bash scripts/docs.sh

stage "fuzz replay: seed corpus and regressions through every harness (ASan/UBSan)"
bash scripts/fuzz.sh replay

stage "Python tests under ASan/UBSan"
bash scripts/sanitize.sh

# The smoke runs use fixed seeds, so a run here explores what runs before it
# explored: a finding is a fault of the change, not the luck of the draw
# (KESTREL_FUZZ_SEED picks another).
smoke=${KESTREL_FUZZ_SMOKE_SECONDS:-120}
seed=${KESTREL_FUZZ_SEED:-1}
if [ "$smoke" -gt 0 ]; then
  stage "fuzz smoke: ${smoke}s over the harnesses (clang, libFuzzer, seed $seed)"
  KESTREL_FUZZ_EXTRA="-seed=$seed ${KESTREL_FUZZ_EXTRA:-}" bash scripts/fuzz.sh smoke "$smoke"
  stage "Python API fuzz smoke: $((smoke / 2))s of mutated seeds under ASan/UBSan (seed $seed)"
  bash scripts/sanitize.sh --pyfuzz $((smoke / 2)) --seed "$seed"
fi
