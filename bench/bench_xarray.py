"""Lazy and distributed reading of maps, measured side by side in one run against the eager read
(kestrel.getOpusData of the whole block):

  1. open_dataset + .isel() of 1/16 of the positions of a 128 x 128 x 1500 map    (target <= 1/8 of eager)
  2. the whole map through Dask chunks of 32 x 32 positions on 2 worker processes (target <= 1.5x eager),
     read into the workers' memory (persist), and beside it gathered into this process (the transfer of
     the cube between processes comes on top of the reads)
  3. the mean spectrum with the engine's own chunks (chunks={} and chunks="auto") on the same cluster,
     against the eager read plus the same mean in this process (target <= 1.5x), for the 97 MiB map and
     for maps of --gb GiB (4 by default), written to a temporary folder
  4. the mean spectrum of the largest map through the engine's chunks and through chunks of 32 x 32
     positions, each on a fresh 2-worker cluster, with each worker's peak memory  (target < 1 GB per worker)

Every timed run is checked: the workers must have been asked for every window of the cube (a key kept in
a worker's memory from an earlier run would read nothing), and the values against the eager read (or,
for the large maps, against the mean accumulated while writing them).

    .venv/bin/python bench/bench_xarray.py [--gb 0.4,4] [--keep DIR]

The eager read and mean of a map peak at 2.5 times its cube in this process (10.3 GB for the 4 GiB map):
a size for which less than 3 times is available is reported as skipped (a MISS: not measured).
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


def memory_available():
    """Bytes of memory the system can give without swapping (MemAvailable), or None when unknown."""
    try:
        with open("/proc/meminfo") as meminfo:
            for row in meminfo:
                if row.startswith("MemAvailable:"):
                    return int(row.split()[1]) * 1024
    except OSError:
        pass
    return None


def new_cluster():
    import distributed

    return distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
                                    dashboard_address=None, worker_dashboard_address=None)


def checked_time(client, run, check, cube_bytes, repeat=3):
    """The best time of run() on the cluster over `repeat` runs, each one checked: in that run the workers
    were asked for every byte of the cube (a result kept in a worker's memory from an earlier run would
    read nothing and time only the scheduler), and check(what run returned) holds."""
    best = float("inf")
    for _ in range(repeat):
        client.run(_windows.reset_read_stats)
        start = time.perf_counter()
        result = run()
        took = time.perf_counter() - start
        asked = cluster_stats(client)
        assert asked["bytes"] == cube_bytes, f"a run asked for {asked['bytes']} bytes of a {cube_bytes}-byte cube"
        check(result)
        best = min(best, took)
    return best


def eager_mean(path):
    """The mean spectrum as a user computes it without Dask: the whole cube read here, then averaged."""
    from kestrel_tools import to_xarray

    return to_xarray(kestrel.getOpusData(path, BLOCK)).mean(("y", "x")).values


def default_chunk_means(client, path, expected, cube_bytes, size, repeat=3):
    """The mean spectrum with chunks={} and chunks="auto" against the eager read and the same mean here."""
    got = eager_mean(path)
    assert np.allclose(got, expected, rtol=1e-4), f"{path}: the eager mean differs from the written one"
    del got
    t_eager = best_time(lambda: eager_mean(path), repeat=repeat)
    t_read = best_time(lambda: kestrel.getOpusData(path, BLOCK), repeat=repeat)
    print(f"  eager read and mean here {t_eager:.2f} s, of which the read {t_read:.2f} s")
    for chunks, label in (({}, "empty"), ("auto", "auto")):
        data = open_dataset(path, BLOCK, chunks=chunks).spectra.data
        shape = "x".join(str(c[0]) for c in data.chunks)

        def mean():
            return open_dataset(path, BLOCK, chunks=chunks).spectra.mean(("y", "x")).values

        def check(got):
            assert np.allclose(got, expected, rtol=1e-4), f"{path}: the mean through chunks={chunks!r} differs"

        took = checked_time(client, mean, check, cube_bytes, repeat)
        print(f"  mean spectrum, chunks={chunks!r}: {took:.2f} s, {took / t_eager:.2f}x the eager read and mean "
              f"here ({t_eager:.2f} s); {data.npartitions} chunks of {shape}")
        common.target(f"xarray_default_chunks_{label}_mean_{size}", took / t_eager, 1.5)


def large_map(folder, gb):
    """A map of about `gb` GiB of 1500-point spectra (written unless kept from an earlier run), its path,
    side and mean spectrum."""
    side = int((gb * 2**30 / (4 * 1500 + INFO_SIZE)) ** 0.5)
    big = os.path.join(folder, f"map{side}.0")
    need = side * side * (4 * 1500 + INFO_SIZE)
    free = shutil.disk_usage(folder).free
    if not os.path.exists(big) and free < 2 * need:
        print(f"map of {gb:g} GiB skipped: {need / 2**30:.1f} GiB of disk needed, {free / 2**30:.1f} GiB free")
        return None
    start = time.perf_counter()
    if os.path.exists(big):  # kept from an earlier run: the same values
        rows = patterned_rows(side, 1500)
        expected = sum(rows(r).sum(axis=0, dtype=np.float64) for r in range(side)) / (side * side)
    else:
        expected = write_map(big, side, side, 1500, patterned_rows(side, 1500))
    print(f"map {side} x {side} x 1500 ({os.path.getsize(big) / 2**30:.2f} GiB) ready in "
          f"{time.perf_counter() - start:.1f} s")
    return big, side, expected


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gb", default="4", help="sizes of the large maps in GiB, comma-separated (0: none)")
    parser.add_argument("--big-chunk", type=int, default=32, help="positions per chunk side on the largest map")
    parser.add_argument("--keep", help="write the files into this folder and keep them (and reuse them)")
    args = parser.parse_args()
    sizes = sorted(gb for gb in (float(text) for text in args.gb.split(",") if text.strip()) if gb > 0)

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

        common.target("xarray_open_series_read_share", series_open_fraction(folder), 1.0)

        larges = []
        with new_cluster() as cluster, distributed.Client(cluster) as client:
            def chunks():
                return open_dataset(path, BLOCK, chunks={"y": 32, "x": 32}).spectra.data

            def read_on_workers():
                persisted = chunks().persist()
                distributed.wait(persisted)
                return persisted

            def same_as_eager(persisted):
                assert np.array_equal(persisted.compute(), eager), "the chunks read differ from the eager read"
                client.cancel(persisted)

            def gathered(cube):
                assert np.array_equal(cube, eager), "the chunks gathered differ from the eager read"

            read_on_workers()  # the workers import what the reads need
            line("whole map, Dask chunks 32 x 32 read on 2 workers",
                 checked_time(client, read_on_workers, same_as_eager, eager.nbytes), t_eager, "<= 1.5x")
            line("  the same, gathered into this process",
                 checked_time(client, lambda: chunks().compute(), gathered, eager.nbytes), t_eager, "-")

            def windows_here():
                for y in range(0, 128, 32):
                    for x in range(0, 128, 32):
                        out = np.empty((32, 32, 1500), dtype=np.float32)
                        _windows.read_window(path, BLOCK, [(y, y + 32), (x, x + 32), (0, 1500)], out)

            line("  the same 16 windows read here, one after another", best_time(windows_here, repeat=5), t_eager,
                 "-")
            expected = eager.astype(np.float64).mean(axis=(0, 1))
            cube_bytes = eager.nbytes
            del eager
            default_chunk_means(client, path, expected, cube_bytes, "100MB")
            print(f"    the workers' memory limit: "
                  f"{', '.join(f'{w.memory_manager.memory_limit / 2**30:.1f} GiB' for w in cluster.workers.values())}")
            line("  one empty task's round trip on this cluster",
                 best_time(lambda: client.submit(int, 0, pure=False).result(), repeat=5), t_eager, "-")

            for gb in sizes:
                made = large_map(folder, gb)
                if made is None:
                    continue
                big, side, expected = made
                larges.append(made)
                cube_bytes = side * side * 1500 * 4
                available = memory_available()
                if available is not None and available < 3 * cube_bytes:
                    print(f"  the eager read of {cube_bytes / 2**30:.1f} GiB skipped: "
                          f"{available / 2**30:.1f} GiB of memory available")
                    for label in ("empty", "auto"):
                        print(f"TARGET xarray_default_chunks_{label}_mean_{gb:g}GB skipped <=1.5 MISS", flush=True)
                    continue
                default_chunk_means(client, big, expected, cube_bytes, f"{gb:g}GB", repeat=2)

        if not larges:
            return
        big, side, expected = larges[-1]
        edge = args.big_chunk
        for label, chunks in (("the engine's chunks", {}), (f"chunks of {edge} x {edge}", {"y": edge, "x": edge})):
            # A fresh cluster each, so that the workers' peak memory is this computation's.
            with new_cluster() as cluster, distributed.Client(cluster) as client:
                client.run(_windows.reset_read_stats)
                baseline = client.run(peak_rss_mb)
                start = time.perf_counter()
                mean = open_dataset(big, BLOCK, chunks=chunks).spectra.mean(("y", "x")).values
                took = time.perf_counter() - start
                assert np.allclose(mean, expected, rtol=1e-4), "the mean spectrum differs from the written one"
                peaks = client.run(peak_rss_mb)
                asked = cluster_stats(client)
                assert asked["bytes"] == side * side * 1500 * 4, "the chunks did not read the whole cube"
                print(f"  mean spectrum through {label} on 2 fresh workers: {took:.1f} s, "
                      f"{side * side * 6000 / 2**30 / took:.2f} GiB/s of spectra, {asked['windows']} windows")
                print(f"    worker peak memory: {', '.join(f'{mb:.0f} MB' for mb in peaks.values())} "
                      f"(target < 1024 MB each); before the computation: "
                      f"{', '.join(f'{mb:.0f} MB' for mb in baseline.values())}")
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
