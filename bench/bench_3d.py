"""3D blocks at full size, each measured side by side in one run (in turn, best of several) against:
  - the read floor: one numpy.fromfile of the whole file;
  - a straightforward Python reader: seek + numpy.fromfile per record;
and the peak memory of the call (tracemalloc) beside the size of its result. Every result is checked
against what was written. Maps are read at 32 x 32 to 256 x 256 positions (a per-position map at
1.3x the floor or better, a transposed one at 2x, a multi-region map at 1.3x). Then windows of 1/16 of
the positions read through kestrel_tools._native against the full read (a transposed map's at 1/4 or
less), and two threads reading two large files against one thread reading both.

    .venv/bin/python bench/bench_3d.py [--sizes 32,64,128,256]
"""

import argparse

import os
import struct
import tempfile
import threading
import time
import tracemalloc

import numpy as np
from common import best_pair, best_time, target

import kestrel
from compare_3d import main_array
from kestrel_tools import _native
from opusfile import (EXT_3D, REGION_COLUMNS, annotation_block, anno_table, block3d, data_block, opus, params,
                      record, region_rows)

RNG = np.random.default_rng(7)


def three_d(name, records, npt, extra, info_size=216, entries=None, labels=None, times=None):
    """A 3D data block from numpy records, written the way the test writer lays them out."""
    made = [record(r, time=(times[i] if times is not None else 0.0),
                   label=(labels[i] if labels is not None else ""), info_size=info_size)
            for i, r in enumerate(records)]
    payload = block3d(made, entries, block_size=4 * len(records[0]), info_size=info_size)
    p = dict(NPT=npt, FXV=4000.0, LXV=400.0, MNY=0.0, MXY=1.0, DXU="WN", **extra)
    return [data_block(name, payload, extend=EXT_3D), params(p, name=name, extend=EXT_3D)]


def grid_keys(nx, ny):
    return dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=nx, NPY=ny)


def cases(sizes):
    """(name, target name, limit, request, file bytes, the main array as written)."""
    npt = 1500
    for n in sizes:
        cube = RNG.random((n, n, npt), dtype=np.float32)
        yield (f"map {n}x{n}x{npt}, per position", f"per_position_{n}x{n}", 1.3, ("AB", "3D", "NONE"),
               opus(three_d("AB", list(cube.reshape(n * n, npt)), npt, grid_keys(n, n))), cube)
        yield (f"map {n}x{n}x{npt}, transposed", f"transposed_{n}x{n}", 2.0, ("AB", "3D", "NONE"),
               opus(three_d("AB", list(cube.reshape(n * n, npt).T.copy()), npt, grid_keys(n, n))), cube)
        del cube
    series = RNG.random((5000, 2000), dtype=np.float32)
    yield ("series 5000 x 2000", None, None, ("AB", "3D", "NONE"),
           opus(three_d("AB", list(series), 2000, {}, times=[i * 0.5 for i in range(5000)])), series)
    del series
    points = 700
    spectra = RNG.random((3 * points, npt), dtype=np.float32)
    rows = []
    for g in range(3):
        rows += region_rows(g + 1, [(float(i), float(g)) for i in range(points)], first_index=g * points + 1)
    blocks = three_d("AB", list(spectra), npt, {}, entries=[(1, 3 * points)]) + [
        annotation_block(anno_table(REGION_COLUMNS, rows))]
    yield ("multi-region 3 x 700 points x 1500", "multi_region_3x700x1500", 1.3, ("AB", "3D", "NONE"), opus(blocks),
           spectra)
    n = 128
    traces = RNG.random((20, n * n), dtype=np.float32)
    yield ("trace map 128x128, 20 traces", None, None, ("TRC", "3D", "NONE"),
           opus(three_d("TRC", list(traces), n * n, grid_keys(n, n), labels=[f"trace {i}" for i in range(20)])),
           traces.T.reshape(n, n, 20))


def record_offsets(path):
    """Offsets of the records, as a Python reader would find them: the directory, then the store table."""
    with open(path, "rb") as f:
        f.seek(12)
        dir_at, _, n = struct.unpack("<iii", f.read(12))
        f.seek(dir_at)
        for _ in range(n):
            word, _, at = struct.unpack("<iii", f.read(12))
            if (word >> 19) & 127 == EXT_3D and (word >> 4) & 63 == 0:
                f.seek(at)
                _, _, rel, block_size, info_size, entries = struct.unpack("<6i", f.read(24))
                first, second = struct.unpack("<ii", f.read(8))
                stride = block_size + info_size
                return [at + rel + k * stride for k in range(second - first + 1)], block_size // 4


def python_loop(path, offsets, count):
    out = []
    with open(path, "rb") as f:
        for at in offsets:
            f.seek(at)
            out.append(np.fromfile(f, dtype=np.float32, count=count))
    return out


def peak_memory(func):
    tracemalloc.start()
    tracemalloc.reset_peak()
    result = func()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return peak, result


def result_bytes(r):
    total = 0
    for value in vars(r).values():
        if isinstance(value, np.ndarray):
            total += value.nbytes
        elif isinstance(value, list):
            total += sum(v.nbytes for g in value if hasattr(g, "spectra") for v in vars(g).values()
                         if isinstance(v, np.ndarray))
    return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="32,64,128,256", help="map sides to read, comma-separated")
    args = parser.parse_args()
    sizes = [int(n) for n in args.sizes.split(",")]
    tmp = tempfile.mkdtemp()
    print(f"{'case':<36} {'file MB':>8} {'kestrel ms':>11} {'fromfile ms':>12} {'ratio':>7} "
          f"{'py loop ms':>11} {'speed-up':>9} {'peak/result':>12}")
    large = []  # a per-position map and the series, for the two-thread read
    targets = []
    for name, label, limit, request, data, written in cases(sizes):
        path = os.path.join(tmp, "".join(c if c.isalnum() else "_" for c in name) + ".0")
        with open(path, "wb") as f:
            f.write(data)
        del data
        offsets, count = record_offsets(path)
        big = os.path.getsize(path) > 200 * 2**20
        ours, floor = best_pair(lambda: kestrel.getOpusData(path, request),
                                lambda: np.fromfile(path, dtype=np.uint8), repeat=5 if big else 9)
        loop = best_time(lambda: python_loop(path, offsets, count), repeat=1 if big else 3)
        peak, r = peak_memory(lambda: kestrel.getOpusData(path, request))
        assert main_array(r).tobytes() == written.tobytes(), f"{name}: the result differs from what was written"
        size = os.path.getsize(path) / 2**20
        print(f"{name:<36} {size:8.1f} {ours * 1e3:11.2f} {floor * 1e3:12.2f} {ours / floor:6.2f}x "
              f"{loop * 1e3:11.1f} {loop / ours:8.1f}x {peak / result_bytes(r):11.2f}x", flush=True)
        if label:
            targets.append((f"{label}_vs_fromfile", ours / floor, limit))
        if name.startswith("map"):
            # A quarter of the rows and a quarter of the columns: 1/16 of the positions, every point.
            n = written.shape[0]
            window = [(n // 4, n // 2), (n // 4, n // 2), (0, written.shape[2])]
            out = np.empty([b - a for a, b in window], np.float32)
            took, full = best_pair(lambda: _native.read_window(path, request, window, out),
                                   lambda: kestrel.getOpusData(path, request), repeat=5)
            assert out.tobytes() == written[n // 4:n // 2, n // 4:n // 2].tobytes(), f"{name}: the window differs"
            print(f"  window of 1/16 of the positions: {took * 1e3:.2f} ms, {took / full:.3f}x the full read "
                  f"({full * 1e3:.2f} ms)", flush=True)
            # At 32 x 32 a record is 4 KiB: one read per record costs as much as reading through the rows
            # a window leaves out, so the window costs what reading the whole file costs (see
            # window_io_floor.c and README.md).
            if "transposed" in name:
                targets.append((f"window_1_16_transposed_{n}x{n}_vs_full", took / full, 0.25))
            del out
        if "series" in name or name.startswith(f"map {min(sizes, key=lambda n: abs(n - 128))}x") and "per pos" in name:
            large.append((path, request))
        else:
            os.unlink(path)
        del r, written

    # Two threads on two files against one thread reading both in turn.
    def read(path, request):
        kestrel.getOpusData(path, request)

    def sequential():
        for path, request in large:
            read(path, request)

    def threaded():
        threads = [threading.Thread(target=read, args=item) for item in large]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    seq = best_time(sequential, repeat=5)
    par = best_time(threaded, repeat=5)
    print(f"two files: one thread {seq * 1e3:.1f} ms, two threads {par * 1e3:.1f} ms ({seq / par:.2f}x)")
    for label, measured, limit in targets:
        target(label, measured, limit)


if __name__ == "__main__":
    main()
