"""Shared helpers for the benchmark scripts: side-by-side timing in one run."""

import pathlib
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests"))


def best_time(func, repeat=7, number=1):
    """The best of `repeat` runs of `number` calls, in seconds per call."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(number):
            func()
        best = min(best, (time.perf_counter() - start) / number)
    return best


def best_pair(func, floor, repeat=7):
    """Best times of `func` and of `floor`, run in turn `repeat` times: both see the same machine."""
    ours = base = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        func()
        middle = time.perf_counter()
        floor()
        ours = min(ours, middle - start)
        base = min(base, time.perf_counter() - middle)
    return ours, base


def calls_for(func, budget=0.05):
    """How many calls fill about `budget` seconds."""
    start = time.perf_counter()
    func()
    one = max(time.perf_counter() - start, 1e-7)
    return max(1, int(budget / one))


def median_ratio(func, floor, rounds=301):
    """Median time of one call of `func` and of `floor`, the two interleaved call by call, in seconds.

    One call at a time, as a caller makes it: the fixed costs count, and the two share whatever the
    machine does meanwhile."""
    import statistics

    ours, base = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        func()
        middle = time.perf_counter()
        floor()
        ours.append(middle - start)
        base.append(time.perf_counter() - middle)
    return statistics.median(ours), statistics.median(base)


def target(name, measured, limit, higher_is_better=False):
    """Prints the line scripts/bench.sh collects: TARGET name measured limit PASS|MISS.

    `measured` and `limit` are ratios (or shares); a target is met at or below its limit, or at or
    above it when higher_is_better."""
    met = measured >= limit if higher_is_better else measured <= limit
    sign = ">=" if higher_is_better else "<="
    print(f"TARGET {name} {measured:.3f} {sign}{limit:g} {'PASS' if met else 'MISS'}", flush=True)
    return met
