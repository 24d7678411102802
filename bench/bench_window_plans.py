"""One-element windows of large maps through kestrel_tools._native.read_window, measured side by side in
one run: a window whose plan is reused (the same file read again, as chunked reads do) against a window of
a file whose timestamp was just touched (so its plan is made again, as every call did before plans were
kept; a file modified within the last 3 seconds never has its plan kept), on maps of about 16k, 160k and 690k records. Every window is checked against what was written.

    .venv/bin/python bench/bench_window_plans.py
"""

import os
import tempfile
import time

import numpy as np
from bench_xarray import write_map
from common import best_time

from kestrel_tools import _native

BLOCK = ("AB", "3D", "NONE")
NPT = 8


def main():
    folder = tempfile.mkdtemp(prefix="kestrel-bench-plans-")
    try:
        for side in (128, 400, 830):
            path = os.path.join(folder, f"map{side}.0")
            write_map(path, side, side, NPT, lambda r, side=side: np.full((side, NPT), r, dtype=np.float32))
            out = np.empty((1, 1, 1), dtype=np.float32)
            window = [(side - 1, side), (3, 4), (2, 3)]

            def warm():
                _native.read_window(path, BLOCK, window, out)

            # Timestamps a minute back: a file modified within the last seconds has its plan made every time.
            stamp = [time.time_ns() - 60 * 10**9]
            os.utime(path, ns=(stamp[0], stamp[0]))

            def cold():
                stamp[0] += 1000  # a new timestamp: the kept plan no longer matches the file
                os.utime(path, ns=(stamp[0], stamp[0]))
                _native.read_window(path, BLOCK, window, out)

            t_cold = best_time(cold, repeat=5, number=3)
            assert out[0, 0, 0] == side - 1
            time.sleep(3.5)  # touching the file changed its change time: plans are kept once it has settled
            t_warm = best_time(warm, repeat=5, number=20)
            assert out[0, 0, 0] == side - 1
            print(f"map {side} x {side} ({side * side:7d} records): plan made {t_cold * 1e3:7.3f} ms   "
                  f"plan kept {t_warm * 1e3:7.3f} ms   ratio {t_cold / t_warm:6.1f}x")
    finally:
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        os.rmdir(folder)


if __name__ == "__main__":
    main()
