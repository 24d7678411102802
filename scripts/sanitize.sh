#!/usr/bin/env bash
# Runs the whole Python test suite against a build of the extension instrumented
# with AddressSanitizer and UndefinedBehaviorSanitizer. The interpreter itself is
# not instrumented, so the sanitizer runtime is preloaded; the instrumented module
# is built in build/sanitize and put ahead of the installed one on PYTHONPATH, with
# a copy of the kestrel_tools package (build/sanitize/pkg) that carries the
# instrumented kestrel_tools._native.
# Extra arguments go to pytest; `--pyfuzz SECONDS` runs scripts/pyfuzz.py instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
[ -x "$venv/bin/python" ] || bash scripts/setup.sh
python="$venv/bin/python"
build="$root/build/sanitize"

cmake -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" -DPython_EXECUTABLE="$python" \
  -DKESTREL_PYTHON=ON -DKESTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 >/dev/null
# The companion package from the source tree, with the instrumented _native in it.
rm -rf "$build/pkg"
mkdir -p "$build/pkg"
cp -r src/kestrel_tools "$build/pkg/"
find "$build/pkg" -name "_native*.so" -delete
cp "$build"/_native*.so "$build/pkg/kestrel_tools/"

asan="$(g++ -print-file-name=libasan.so)"
stdcxx="$(g++ -print-file-name=libstdc++.so)"
[ -f "$asan" ] || { echo "sanitize: no libasan.so next to g++ ($asan)" >&2; exit 1; }
# ASan must come first. libstdc++ is preloaded too: the interpreter does not link
# it, and ASan can only intercept C++ throws if it is there when ASan starts.
# libubsan comes in as a dependency of the module.
export LD_PRELOAD="$asan:$stdcxx"
# detect_leaks=0: the interpreter keeps its own allocations until exit, which a
# leak check would report; the leak tests measure growth instead.
# allocator_may_return_null=1: numpy probes for memory with requests that may fail,
# and a failed allocation must reach the module as MemoryError, not abort.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:abort_on_error=1:print_summary=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export PYTHONPATH="$build/pkg:$build${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONMALLOC=malloc  # every object through the sanitized allocator, so overflows are seen
export KESTREL_SANITIZED=1  # tests that measure memory or time loosen their bounds

for module in kestrel kestrel_tools._native; do
  loaded=$("$python" -c "import $module as m; print(m.__file__)")
  case "$loaded" in
    "$build"/*) ;;
    *) echo "sanitize: imported $loaded instead of the instrumented build" >&2; exit 1 ;;
  esac
done
if [ "${1:-}" = --pyfuzz ]; then
  exec "$python" scripts/pyfuzz.py --seconds "${2:-300}" "${@:3}"
fi
# --capture=sys: a sanitizer report is written to the process's stderr, which
# fd-level capture would swallow when the report ends the process.
"$python" -m pytest -q -p no:cacheprovider --capture=sys tests "$@"
