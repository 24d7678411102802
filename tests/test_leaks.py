"""Memory stays flat when every public function is called over and over on
valid and broken files: no reference, object or native allocation survives a
call. scripts/leak_soak.py runs the same loop for as long as one likes."""

import contextlib
import gc
import os
import sys
import tracemalloc

import pytest

import api_calls
import kestrel

# Broken annotation tables warn by design; the warning is not what these tests look at.
pytestmark = pytest.mark.filterwarnings("ignore:Unknown annotation data type:RuntimeWarning")

SANITIZED = os.environ.get("KESTREL_SANITIZED") == "1"
ROUNDS = 40 if SANITIZED else 120


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture(scope="module")
def all_calls(tmp_path_factory):
    files = api_calls.scenario_files(tmp_path_factory.mktemp("leaks"), api_calls.VALID + api_calls.INVALID)
    assert set(api_calls.VALID + api_calls.INVALID) <= set(files), "a scenario name went missing"
    calls = [c for path in files.values() for c in api_calls.file_calls(path)] + api_calls.other_calls()
    calls.append(("help", api_calls.help_quietly, ()))
    return calls


def run(calls, rounds):
    # Printed lines (help, a map's note) go nowhere, so no captured output grows.
    with open(os.devnull, "w") as devnull, contextlib.redirect_stdout(devnull):
        for _ in range(rounds):
            for _label, fn, args in calls:
                try:
                    fn(*args)
                except Exception:  # noqa: BLE001 - failures are expected on broken files
                    pass


def test_arguments_keep_their_reference_counts(all_calls):
    """A call that leaks or over-releases a reference to its arguments shows up in their counts."""
    run(all_calls, 2)
    before = [[sys.getrefcount(a) for a in args] for _l, _f, args in all_calls]
    run(all_calls, 20)
    after = [[sys.getrefcount(a) for a in args] for _l, _f, args in all_calls]
    changed = [(c[0], b, a) for c, b, a in zip(all_calls, before, after) if b != a]
    assert changed == []


def test_python_objects_do_not_accumulate(all_calls):
    """Objects (results, exceptions, dicts, arrays) created by the calls are all freed."""
    run(all_calls, 5)
    gc.collect()
    tracemalloc.start()
    try:
        run(all_calls, ROUNDS // 2)
        gc.collect()
        first, _ = tracemalloc.get_traced_memory()
        run(all_calls, ROUNDS // 2)
        gc.collect()
        second, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    calls = len(all_calls) * (ROUNDS // 2)
    # One byte per call would be a leak of some object every few calls.
    assert second - first < max(64 * 1024, calls), f"{second - first} bytes more after {calls} calls"


@pytest.mark.skipif(SANITIZED, reason="the address sanitizer keeps freed memory in quarantine")
def test_process_memory_stays_flat(all_calls):
    """Native allocations of the core (outside Python's view) are released too."""
    run(all_calls, 10)
    gc.collect()
    base = rss_bytes()
    run(all_calls, ROUNDS)
    gc.collect()
    grown = rss_bytes() - base
    calls = len(all_calls) * ROUNDS
    assert grown < 2 * 1024 * 1024, f"RSS grew by {grown} bytes over {calls} calls"


def test_every_public_function_is_exercised(all_calls):
    """New public functions must join the leak and thread checks."""
    public = {n for n, obj in vars(kestrel).items()
              if callable(obj) and not isinstance(obj, type) and getattr(obj, "__module__", None) == "kestrel"}
    covered = {label for label, _f, _a in all_calls}
    assert public <= covered, f"not exercised: {sorted(public - covered)}"
