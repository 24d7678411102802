#!/usr/bin/env bash
# Proves the core is portable to Windows: cross-compiles the core and its C++
# tests with mingw-w64 (Debian's toolchain, posix thread model, static runtime)
# against a GoogleTest built with the same toolchain from Debian's googletest
# sources, and runs the tests under wine (file opening and file identities among
# them). Installs what it needs with apt-get. The Python binding is not built for
# Windows here; it holds no platform code (checked first).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
build="$root/build/windows-core"
gtest_build="$root/build/windows-gtest"

# Platform calls live in the core's file access (core/io) alone: every other C++
# file, the bindings' included, builds unchanged on every system.
if grep -rlE '^\s*#\s*include\s*<(unistd|fcntl|io|windows|direct)\.h>|^\s*#\s*include\s*<sys/|^\s*#\s*if(def|ndef)?\s.*(_WIN32|__APPLE__|__linux__)' \
    core python fuzz/layers --include='*.cpp' --include='*.hpp' | grep -vE '^core/(io|tests)/'; then
  echo "test_windows_core: the files above call the platform outside core/io" >&2
  exit 1
fi

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null 2>&1 || need+=(wine wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

generator=(-G "Unix Makefiles")
[ -x "$venv/bin/ninja" ] && generator=(-G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja")
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

# GoogleTest for Windows, built once and kept in build/.
if [ ! -f "$gtest_build/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest_build/build" "${generator[@]}" -Wno-dev -Wno-deprecated \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=ON -DCMAKE_INSTALL_PREFIX="$gtest_build/install" >/dev/null
  cmake --build "$gtest_build/build" -j 2 >/dev/null
  cmake --install "$gtest_build/build" >/dev/null
fi

cmake -S . -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DKESTREL_PYTHON=OFF -DKESTREL_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DGTest_DIR="$gtest_build/install/lib/cmake/GTest" >/dev/null
cmake --build "$build" -j 2

# A private wine prefix, made on first use, kept outside the checkout: its drive Z:
# is a link to /, which tools that walk the source tree (an sdist build) would follow.
# Wine's own chatter is muted.
export WINEPREFIX="${KESTREL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel/wine-prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine "$build/core/tests/kestrel_core_tests.exe" --gtest_brief=1 2> >(grep -v -e '^wine: ' -e '^$' >&2)
wineserver -w  # let this prefix's server save its state and exit before the next stage
