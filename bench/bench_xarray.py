"""Lazy and distributed reading of maps, measured side by side in one run against the eager read
(kestrel.getOpusData of the whole block):

  1. open_dataset + .isel() of 1/16 of the positions of a 128 x 128 x 1500 map    (target <= 1/8 of eager)
  2. the whole map through Dask chunks of 32 x 32 positions on 2 worker processes (target <= 1.5x eager),
     read into the workers' memory (persist), and beside it gathered into this process (the transfer of
     the cube between processes comes on top of the reads)
  3. the mean spectrum of a map of about 4 GB, written to a temporary folder, through chunks on the same
     cluster, with each worker's peak memory                                      (target < 1 GB per worker)

Every result is checked against the eager read (or, for the large map, against the mean accumulated
while writing it), and the bytes the windowed reads were asked for are printed beside the cube's size.

    .venv/bin/python bench/bench_xarray.py [--gb 4] [--keep DIR]
"""

import argparse
import os
import resource
import shutil
import struct
import tempfile
import time

import numpy as np
import common
from common import best_time

import kestrel
from kestrel_tools import _windows, open_dataset
from opusfile import EXT_3D, INFO_SIZE, data_block, opus, params

BLOCK = ("AB", "3D", "NONE")


def write_map(path, ny, nx, npt, row_values):
    """Writes an ny x nx x npt image map one row of positions at a time (never the whole cube in memory).

    row_values(r) gives row r as an (nx, npt) float32 array. The data block goes last, holding only its
    store table in the declaration, and the records are appended after it; returns the mean spectrum."""
    record = 4 * npt + INFO_SIZE
    table = struct.pack("<6i", 1, ny * nx, 32, 4 * npt, INFO_SIZE, 1) + struct.pack("<ii", 0, ny * nx - 1)
    p = dict(NPT=npt, FXV=4000.0, LXV=400.0, MNY=0.0, MXY=1.0, DXU="WN", AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0,
             NPX=nx, NPY=ny)
    head = opus(params(p, name="AB", extend=EXT_3D),
                data_block("AB", table, extend=EXT_3D, size_words=(len(table) + ny * nx * record) // 4))
    total = np.zeros(npt, dtype=np.float64)
    rows = np.zeros((nx, record), dtype=np.uint8)  # info areas stay zero
    with open(path, "wb") as f:
        f.write(head)
        for r in range(ny):
            values = np.ascontiguousarray(row_values(r), dtype="<f4")
            total += values.sum(axis=0, dtype=np.float64)
            rows[:, :4 * npt] = values.view(np.uint8).reshape(nx, 4 * npt)
            f.write(rows.tobytes())
    return total / (ny * nx)


def random_rows(nx, npt, seed):
    rng = np.random.default_rng(seed)
    return lambda r: rng.random((nx, npt), dtype=np.float32)


def patterned_rows(nx, npt):
    """Cheap values for the large map: a ramp per row plus a per-position offset."""
    base = np.linspace(0.0, 1.0, npt, dtype=np.float32)
    offsets = np.arange(nx, dtype=np.float32)[:, None] * 1e-3
    return lambda r: base[None, :] + offsets + np.float32(r * 1e-4)


def peak_rss_mb():
    """The peak resident memory of this process's address space (VmHWM: unlike ru_maxrss it does not carry
    the peak of the process that forked this one)."""
    with open("/proc/self/status") as status:
        for row in status:
            if row.startswith("VmHWM:"):
                return int(row.split()[1]) / 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def cluster_stats(client):
    stats = client.run(_windows.read_stats)
    return {key: sum(s[key] for s in stats.values()) for key in ("windows", "bytes")}


def target(name, measured, limit):
    """One line for scripts/bench.sh: TARGET name measured <=limit PASS|MISS."""
    print(f"TARGET {name} {measured:.3f} <={limit:g} {'PASS' if measured <= limit else 'MISS'}", flush=True)


def series_open_fraction(folder):
    """The share of a 20,000-record series that opening it reads (the times come later)."""
    from kestrel_tools import _native
    from opusfile import data3d

    path = os.path.join(folder, "series.0")
    if not os.path.exists(path):
        rng = np.random.default_rng(5)
        with open(path, "wb") as f:
            f.write(opus(data3d("AB", rng.random((20_000, 128), dtype=np.float32).tolist(),
                                times=[0.5 * k for k in range(20_000)], FXV=3000.0, LXV=1000.0)))
    before = _native._bytes_read()
    ds = open_dataset(path, BLOCK)
    opened = _native._bytes_read() - before
    assert np.array_equal(ds.time.values, kestrel.getOpusData(path, BLOCK).z)
    size = os.path.getsize(path)
    print(f"series of 20,000 records ({size / 2**20:.1f} MiB): opening read {opened / 1024:.1f} KiB")
    return opened / max(size * 0.02, 256 * 1024)


def line(name, seconds, eager, target):
    print(f"  {name:<52} {seconds * 1e3:10.1f} ms  {seconds / eager:7.3f}x eager   (target {target})")
    if target.startswith("<="):
        label = "xarray_" + "_".join("".join(c if c.isalnum() else " " for c in name.lower()).split())
        common.target(label, seconds / eager, float(target[2:].strip().rstrip("x")))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gb", type=float, default=4.0, help="size of the large map in GB")
    parser.add_argument("--big-chunk", type=int, default=32, help="positions per chunk side on the large map")
    parser.add_argument("--keep", help="write the files into this folder and keep them (and reuse them)")
    args = parser.parse_args()

    import distributed

    folder = args.keep or tempfile.mkdtemp(prefix="kestrel-bench-xarray-")
    os.makedirs(folder, exist_ok=True)
    try:
        path = os.path.join(folder, "map128.0")
        if not os.path.exists(path):
            write_map(path, 128, 128, 1500, random_rows(128, 1500, 3))
        eager = kestrel.getOpusData(path, BLOCK).spectra
        t_eager = best_time(lambda: kestrel.getOpusData(path, BLOCK), repeat=5)
        print(f"map 128 x 128 x 1500 ({os.path.getsize(path) / 2**20:.0f} MiB): eager read {t_eager * 1e3:.1f} ms")

        def isel_sixteenth():
            return open_dataset(path, BLOCK).spectra.isel(y=slice(32, 64), x=slice(64, 96)).values

        assert np.array_equal(isel_sixteenth(), eager[32:64, 64:96])
        line("open_dataset + isel 1/16 of the positions", best_time(isel_sixteenth, repeat=5), t_eager, "<= 0.125x")
        ds = open_dataset(path, BLOCK)
        line("  isel alone (dataset already open)",
             best_time(lambda: ds.spectra.isel(y=slice(32, 64), x=slice(64, 96)).values, repeat=5), t_eager, "-")

        target("xarray_open_series_read_share", series_open_fraction(folder), 1.0)

        with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
                                      dashboard_address=None, worker_dashboard_address=None) as cluster, \
                distributed.Client(cluster) as client:
            def chunks():
                return open_dataset(path, BLOCK, chunks={"y": 32, "x": 32}).spectra.data

            def read_on_workers():
                distributed.wait(chunks().persist())

            client.run(_windows.reset_read_stats)
            assert np.array_equal(chunks().compute(), eager)
            asked = cluster_stats(client)
            line("whole map, Dask chunks 32 x 32 read on 2 workers", best_time(read_on_workers, repeat=3), t_eager,
                 "<= 1.5x")
            line("  the same, gathered into this process", best_time(lambda: chunks().compute(), repeat=3),
                 t_eager, "-")

            def windows_here():
                for y in range(0, 128, 32):
                    for x in range(0, 128, 32):
                        out = np.empty((32, 32, 1500), dtype=np.float32)
                        _windows.read_window(path, BLOCK, [(y, y + 32), (x, x + 32), (0, 1500)], out)

            line("  the same 16 windows read here, one after another", best_time(windows_here, repeat=5), t_eager,
                 "-")
            def eager_mean():
                from kestrel_tools import to_xarray
                return to_xarray(kestrel.getOpusData(path, BLOCK)).mean(("y", "x")).values

            expected = eager_mean()
            t_eager_mean = best_time(eager_mean, repeat=3)
            for chunks, label in (({}, "{}"), ("auto", "auto")):
                def default_mean():
                    return open_dataset(path, BLOCK, chunks=chunks).spectra.mean(("y", "x")).values

                assert np.allclose(default_mean(), expected, rtol=1e-5)
                ratio = best_time(default_mean, repeat=3) / t_eager_mean
                print(f"  mean spectrum, chunks={label}: {ratio:.2f}x the eager read and mean here "
                      f"({t_eager_mean * 1e3:.0f} ms)")
                target(f"xarray_default_chunks_{label.strip('{}') or 'empty'}_mean_100MB", ratio, 1.5)
            line("  one empty task's round trip on this cluster",
                 best_time(lambda: client.submit(int, 0, pure=False).result(), repeat=5), t_eager, "-")
            print(f"    one pass asked for {asked['windows']} windows, {asked['bytes'] / 2**20:.1f} MiB "
                  f"(cube {eager.nbytes / 2**20:.1f} MiB)")
            del eager

            side = int((args.gb * 2**30 / (4 * 1500 + INFO_SIZE)) ** 0.5)
            big = os.path.join(folder, f"map{side}.0")
            need = side * side * (4 * 1500 + INFO_SIZE)
            free = shutil.disk_usage(folder).free
            if not os.path.exists(big) and free < 2 * need:
                print(f"large map skipped: {need / 2**30:.1f} GiB needed, {free / 2**30:.1f} GiB free")
                return
            start = time.perf_counter()
            if os.path.exists(big):  # kept from an earlier run: the same values
                rows = patterned_rows(side, 1500)
                expected = sum(rows(r).sum(axis=0, dtype=np.float64) for r in range(side)) / (side * side)
            else:
                expected = write_map(big, side, side, 1500, patterned_rows(side, 1500))
            print(f"map {side} x {side} x 1500 ({os.path.getsize(big) / 2**30:.2f} GiB) ready in "
                  f"{time.perf_counter() - start:.1f} s")
            client.restart()  # fresh workers, so their peak memory is this computation's
            client.run(_windows.reset_read_stats)
            baseline = client.run(peak_rss_mb)
            start = time.perf_counter()
            edge = args.big_chunk
            mean = open_dataset(big, BLOCK, chunks={"y": edge, "x": edge}).spectra.mean(("y", "x")).values
            took = time.perf_counter() - start
            assert np.allclose(mean, expected, rtol=1e-4), "the mean spectrum differs from the written one"
            peaks = client.run(peak_rss_mb)
            asked = cluster_stats(client)
            print(f"  mean spectrum through chunks of {edge} x {edge} on 2 workers: {took:.1f} s, "
                  f"{side * side * 6000 / 2**30 / took:.2f} GiB/s of spectra")
            print(f"    worker peak memory: {', '.join(f'{mb:.0f} MB' for mb in peaks.values())} "
                  f"(target < 1024 MB each); before the computation: "
                  f"{', '.join(f'{mb:.0f} MB' for mb in baseline.values())}")
            print(f"    asked for {asked['windows']} windows, {asked['bytes'] / 2**30:.2f} GiB")
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
