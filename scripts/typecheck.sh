#!/usr/bin/env bash
# Checks the typing: the stubs of the `kestrel` extension module (installed as
# the kestrel-stubs package) against the built module with mypy's stubtest, and
# the companion package with `mypy --strict` (configuration in pyproject.toml).
# KESTREL_VENV picks the environment whose installed kestrel is checked.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
python="$venv/bin/python"
# Run outside the checkout, so `kestrel` can only be the installed module.
(cd "$root/build" && "$python" -m mypy.stubtest kestrel --allowlist "$root/scripts/stubtest_allowlist.txt" \
  --mypy-config-file "$root/pyproject.toml")
"$python" -m mypy --config-file pyproject.toml
