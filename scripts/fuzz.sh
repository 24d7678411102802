#!/usr/bin/env bash
# Fuzzing the core. Subcommands:
#   corpus             write the seed corpus (test-writer scenarios + real files) to build/fuzz/seed
#   replay             build the harnesses with g++ and a replay main (ASan+UBSan unless
#                      KESTREL_REPLAY_SANITIZE=0) and run each once over seed corpus + fuzz/regressions
#   run SECONDS [H..]  libFuzzer (clang, installed when missing): each harness H (default: every
#                      layer harness) for SECONDS; the grown corpus stays in build/fuzz/corpus/H
#   smoke [TOTAL]      `run` with TOTAL seconds (default 120) split over the layer harnesses
# Any finding (crash, leak, out-of-memory, timeout) is left in build/fuzz/findings/H and
# makes the script exit non-zero.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
venv="${KESTREL_VENV:-$root/.venv}"
python="$venv/bin/python"
[ -x "$python" ] || python=python3
ninja_args=(-G "Unix Makefiles")
[ -x "$venv/bin/ninja" ] && ninja_args=(-G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja")

# cmake -S . -B DIR ...: a build folder made with another generator is made anew.
configure() {
  local dir=$1; shift
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "^CMAKE_GENERATOR:INTERNAL=${ninja_args[1]}\$" "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S . -B "$dir" "${ninja_args[@]}" "$@" >/dev/null
}
work="$root/build/fuzz"
samples="${KESTREL_SAMPLES:-$root/../shared/opus-samples}"

# Every harness but the one that runs all layers at once (kept for long runs).
layer_harnesses() {
  local f
  for f in fuzz/*_fuzzer.cpp; do
    f="${f##*/}"
    [ "$f" = every_fuzzer.cpp ] || echo "${f%.cpp}"
  done
}

make_corpus() {
  rm -rf "$work/seed"
  "$python" fuzz/make_corpus.py "$work/seed" --samples "$samples"
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
apt_install() {
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# clang with the libFuzzer runtime; installed from Debian when missing.
fuzzer_links() {
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' \
    > "$work/probe.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$work/probe.cpp" -o "$work/probe" >/dev/null 2>&1
}
ensure_clang() {
  mkdir -p "$work"
  command -v clang++ >/dev/null 2>&1 || apt_install clang
  if ! fuzzer_links; then
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    apt_install "libclang-rt-$major-dev" || apt_install "libclang-rt-dev"
  fi
  fuzzer_links || { echo "fuzz: clang++ cannot link -fsanitize=fuzzer" >&2; exit 1; }
}

cmd_replay() {
  make_corpus
  local sanitize=ON
  [ "${KESTREL_REPLAY_SANITIZE:-1}" = 0 ] && sanitize=OFF
  configure build/fuzz-replay -DKESTREL_PYTHON=OFF -DKESTREL_FUZZ_REPLAY=ON \
    -DKESTREL_SANITIZE=$sanitize -DKESTREL_FUZZ_CORPUS="$work/seed" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build/fuzz-replay -j 2 >/dev/null
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/fuzz-replay/fuzz --output-on-failure
}

# One harness for $2 seconds; prints its executions and coverage.
fuzz_one() {
  local name=$1 seconds=$2
  local corpus="$work/corpus/$name" findings="$work/findings/$name" log="$work/logs/$name.log"
  mkdir -p "$corpus" "$findings" "$work/logs"
  local status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build/fuzz-clang/fuzz/"$name" -dict=fuzz/opus.dict -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -max_total_time="$seconds" -timeout=10 -max_len="${KESTREL_FUZZ_MAX_LEN:-65536}" \
    -artifact_prefix="$findings/" -print_final_stats=1 "${KESTREL_FUZZ_ARGS[@]}" \
    "$corpus" "$work/seed" fuzz/regressions >"$log" 2>&1 || status=$?
  local done_line execs
  done_line=$(grep -E '^#[0-9]+[[:space:]]+(DONE|INITED|pulse|NEW|REDUCE)' "$log" | tail -1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  printf '%-20s %4ss  execs %-10s %s\n' "$name" "$seconds" "${execs:-?}" "${done_line#* }"
  if [ $status -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    echo "fuzz: $name found a fault (exit $status); log: $log; inputs: $findings" >&2
    grep -E 'ERROR|SUMMARY|check failed|runtime error' "$log" | head -5 >&2 || true
    return 1
  fi
}

cmd_run() {
  local seconds=$1; shift
  local harnesses=("$@")
  [ ${#harnesses[@]} -gt 0 ] || mapfile -t harnesses < <(layer_harnesses)
  ensure_clang
  make_corpus
  CC=clang CXX=clang++ configure build/fuzz-clang -DKESTREL_PYTHON=OFF -DKESTREL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build/fuzz-clang -j 2 >/dev/null
  local failed=0 h
  for h in "${harnesses[@]}"; do fuzz_one "$h" "$seconds" || failed=1; done
  return $failed
}

KESTREL_FUZZ_ARGS=()
[ -n "${KESTREL_FUZZ_EXTRA:-}" ] && read -r -a KESTREL_FUZZ_ARGS <<<"$KESTREL_FUZZ_EXTRA"

case "${1:-}" in
  corpus) make_corpus ;;
  replay) cmd_replay ;;
  run) shift; [ $# -ge 1 ] || { echo "usage: fuzz.sh run SECONDS [harness...]" >&2; exit 2; }; cmd_run "$@" ;;
  smoke)
    total=${2:-120}
    mapfile -t hs < <(layer_harnesses)
    cmd_run $((total / ${#hs[@]})) "${hs[@]}"
    ;;
  *) sed -n '2,10p' "$0" >&2; exit 2 ;;
esac
