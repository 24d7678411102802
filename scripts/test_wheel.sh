#!/usr/bin/env bash
# Builds the manylinux wheel (scripts/build_wheel.sh), installs it with the test
# extra into a fresh virtual environment under build/, and runs there, against
# the installed wheel and not the build tree: the Python test suite, stubtest
# over the stubs the wheel installs, and mypy --strict (scripts/typecheck.sh).
# Extra arguments go to pytest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
wheel=$(bash scripts/build_wheel.sh | tail -1)
venv="$root/build/wheel-venv"
venv_python="$(readlink -f "${KESTREL_VENV:-$root/.venv}/bin/python")"

rm -rf "$venv"
"$venv_python" -m venv "$venv"
# From pip's cache after the first run: the same pins as the development environment.
"$venv/bin/python" -m pip --disable-pip-version-check -q install "$wheel[test]" \
  2> >(grep -v "^WARNING: Location" >&2)

# The src layout keeps the checkout's packages off sys.path; make sure of it.
"$venv/bin/python" - "$venv" <<'PY'
import pathlib, sys
import kestrel, kestrel_tools, kestrel_tools._native
venv = pathlib.Path(sys.argv[1]).resolve()
for module in (kestrel, kestrel_tools, kestrel_tools._native):
    where = pathlib.Path(module.__file__).resolve()
    if venv not in where.parents or "site-packages" not in where.parts:
        sys.exit(f"test_wheel: {module.__name__} comes from {where}, not from the wheel's environment")
print(f"test_wheel: testing {kestrel.__file__}")
PY
"$venv/bin/python" -m pytest -q -p no:cacheprovider tests "$@"
KESTREL_VENV="$venv" bash scripts/typecheck.sh
