#!/usr/bin/env bash
# Sets up everything kestrel needs on a fresh Debian machine: the system
# packages (compiler, CMake, GoogleTest), a Python 3.13 virtual environment in
# .venv (or $KESTREL_VENV), and kestrel built and installed into it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
apt_updated=0
apt_install() {
  [ $# -gt 0 ] || return 0
  if [ $apt_updated -eq 0 ]; then as_root apt-get update -qq; apt_updated=1; fi
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

need=()
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# The HTTP server the tests of remote reads start on loopback.
command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || need+=(nginx)
apt_install "${need[@]}"

is_py313() { [ -n "$1" ] && "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1; }
find_python() {
  local candidates=(python3.13)
  if command -v pyenv >/dev/null 2>&1; then
    candidates+=("$(pyenv root)"/versions/3.13*/bin/python3.13)
  fi
  candidates+=("$HOME"/.pyenv/versions/3.13*/bin/python3.13 /usr/local/bin/python3.13 /usr/bin/python3.13)
  local c
  for c in "${candidates[@]}"; do
    if is_py313 "$c"; then echo "$c"; return 0; fi
  done
  return 1
}
if [ ! -x "$venv/bin/python" ] || ! is_py313 "$venv/bin/python"; then
  python=$(find_python) || { apt_install python3.13 python3.13-venv python3.13-dev && python=$(find_python); } || {
    echo "setup: no Python 3.13 found (tried python3.13, pyenv, apt)" >&2
    exit 1
  }
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi

# pip's output goes to a log, shown only when a step fails.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
pip_step() {
  if ! "$venv/bin/python" -m pip --disable-pip-version-check -q "$@" >"$log" 2>&1; then
    grep -v "^WARNING: Location" "$log" >&2
    echo "setup: pip $* failed" >&2
    exit 1
  fi
}
pip_step install "scikit-build-core>=0.11" "numpy>=2.0" "pytest>=8" ninja
pip_step install --no-build-isolation -Cbuild-dir=build/wheel ".[test]"
"$venv/bin/python" -c "import kestrel, kestrel_tools._native" || { echo "setup: kestrel does not import" >&2; exit 1; }
