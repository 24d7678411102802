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


def calls_for(func, budget=0.05):
    """How many calls fill about `budget` seconds."""
    start = time.perf_counter()
    func()
    one = max(time.perf_counter() - start, 1e-7)
    return max(1, int(budget / one))
