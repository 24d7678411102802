#!/usr/bin/env bash
# Sets up kestrel on a fresh Debian machine, in two parts:
#   building and running: the compiler, CMake, a Python virtual environment in
#     .venv (or $KESTREL_VENV; Python 3.13, or $KESTREL_PYTHON_VERSION such as
#     3.11), and kestrel built and installed into it (in build/wheel, or
#     $KESTREL_BUILD_DIR);
#   testing: GoogleTest, nginx, pytest and the test extra (pandas, xarray, Dask, ...).
# `setup.sh` does both (what scripts/test.sh and the edit-test loop need);
# `setup.sh --demo` only the first, with matplotlib for the demo's plot.
# Each step says what it does; a rebuild after an edit is incremental.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
demo=0
[ "${1:-}" = --demo ] && demo=1

say() { echo "setup: $*"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
apt_updated=0
apt_install() {
  [ $# -gt 0 ] || return 0
  say "installing $* (apt-get)"
  if [ $apt_updated -eq 0 ]; then as_root apt-get -o DPkg::Lock::Timeout=600 update -qq; apt_updated=1; fi
  DEBIAN_FRONTEND=noninteractive as_root apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "$@" >/dev/null
}

# ------------------------------------------------------------ building and running
need=()
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
if [ $demo -eq 0 ]; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  # The HTTP server the tests of remote reads start on loopback.
  command -v nginx >/dev/null 2>&1 || [ -x /usr/sbin/nginx ] || need+=(nginx)
fi
apt_install "${need[@]}"

want="${KESTREL_PYTHON_VERSION:-3.13}"
find_python() { bash "$root/scripts/find_python.sh" "$want"; }
is_wanted() {
  [ -n "$1" ] && "$1" -c "import sys; sys.exit('%d.%d' % sys.version_info[:2] != '$want')" >/dev/null 2>&1
}
if [ ! -x "$venv/bin/python" ] || ! is_wanted "$venv/bin/python"; then
  python=$(find_python) || { apt_install "python$want" "python$want-venv" "python$want-dev" && python=$(find_python); } || {
    echo "setup: no Python $want found (tried python$want, pyenv, apt)" >&2
    exit 1
  }
  say "creating a Python $want environment in ${venv#"$root"/} (from $python)"
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
build_dir="${KESTREL_BUILD_DIR:-build/wheel}"
if [ $demo -eq 1 ]; then
  tools=("scikit-build-core>=0.11" "numpy>=2.0" ninja "matplotlib>=3.8")
  extras=".[plot]"
else
  tools=("scikit-build-core>=0.11" "numpy>=2.0" ninja "pytest>=8")
  extras=".[test]"
fi
say "installing the build tools and ${tools[*]:3} (pip)"
pip_step install "${tools[@]}"
# The distribution was once called `kestrel`, a name PyPI gives to another project:
# an environment that still holds it would keep both records of the same files.
if compgen -G "$venv/lib/python*/site-packages/kestrel-*.dist-info" >/dev/null; then
  say "removing the distribution installed under its old name, kestrel"
  pip_step uninstall -y kestrel
fi
if [ -f "$build_dir/build.ninja" ]; then
  say "building kestrel (incremental, in $build_dir) and installing it with $extras"
else
  say "building kestrel (C++, about a minute on two cores, in $build_dir) and installing it with $extras"
fi
pip_step install --no-build-isolation -Cbuild-dir="$build_dir" "$extras"
"$venv/bin/python" -c "import kestrel, kestrel_tools._native" || { echo "setup: kestrel does not import" >&2; exit 1; }
say "ready: ${venv#"$root"/}/bin/kestrel"
