"""A stopped map measurement: a 512 x 512 x 2048 cube (2 GiB of float32) of which the first 1% of the
positions were recorded. Prints the time of the read and the resident memory it adds, beside the cube's
size and what the file holds: the empty part of the cube is zero pages the system hands out, so the read
costs about what was recorded. Also the annotation table of a 2,097,153-point multi-region map with eight
columns. Every result is checked against what was written."""

import os
import tempfile
import time

import numpy as np
from common import ROOT  # noqa: F401 - puts tests/ on the path

import kestrel
from opusfile import (EXT_3D, REGION_COLUMNS, annotation_block, anno_table, block3d, data_block, opus, params,
                      record)


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def resident_kib():
    return status_kib("VmRSS")


def reset_peak():
    """Starts the peak resident memory (VmHWM) afresh."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def sparse_map(path, side=512, npt=2048, fraction=0.01):
    recorded = int(side * side * fraction)
    values = np.random.default_rng(3).random((recorded, npt), dtype=np.float32)
    payload = block3d([record(v.tolist(), block_size=4 * npt) for v in values], block_size=4 * npt,
                      stored_blocks=recorded)
    p = dict(NPT=npt, FXV=4000.0, LXV=400.0, MNY=0.0, MXY=1.0, DXU="WN", AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0,
             NPX=side, NPY=side)
    with open(path, "wb") as f:
        f.write(opus(data_block("AB", payload, extend=EXT_3D), params(p, name="AB", extend=EXT_3D)))
    return values


def big_regions(path, points=2_097_153, npt=4):
    rows = [(1, 0, 0, 0, 0, i + 1, float(i % 1000), float(i // 1000)) for i in range(points)]
    spectra = [[float(i)] * npt for i in range(8)]
    payload = block3d([record(s) for s in spectra], [(1, 8)], block_size=4 * npt)
    p = dict(NPT=npt, FXV=4000.0, LXV=400.0, MNY=0.0, MXY=1.0, DXU="WN")
    with open(path, "wb") as f:
        f.write(opus(data_block("AB", payload, extend=EXT_3D), params(p, name="AB", extend=EXT_3D),
                     annotation_block(anno_table(REGION_COLUMNS, rows))))


def main():
    tmp = tempfile.mkdtemp()
    path = os.path.join(tmp, "sparse.0")
    written = sparse_map(path)
    before = resident_kib()
    t = time.perf_counter()
    r = kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    seconds = time.perf_counter() - t
    grown = resident_kib() - before
    cube = r.spectra
    flat = cube.reshape(-1, cube.shape[2])
    n = len(written)
    assert np.array_equal(flat[:n], written) and not flat[n:].any(), "the cube differs from what was written"
    print(f"sparse map {cube.shape}: cube {cube.nbytes / 2**20:.0f} MiB, file {os.path.getsize(path) / 2**20:.1f} MiB,"
          f" read {seconds * 1e3:.0f} ms, resident memory grew {grown / 1024:.0f} MiB before the check")
    del r, cube, flat

    path = os.path.join(tmp, "regions.0")
    big_regions(path)
    reset_peak()
    before = resident_kib()
    t = time.perf_counter()
    r = kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    seconds = time.perf_counter() - t
    region = r.regions[0]
    assert region.spectra.shape == (2_097_153, 4) and region.mapX[1] == 1.0 and region.mapX[1001] == 0.0  # only stored points get coordinates
    assert np.array_equal(region.spectra[:8], np.repeat(np.arange(8, dtype=np.float32), 4).reshape(8, 4))
    assert not region.spectra[8:].any()
    print(f"multi-region map of {len(region.mapX)} points x 8 annotation columns: file "
          f"{os.path.getsize(path) / 2**20:.0f} MiB, read {seconds:.2f} s, peak resident memory grew "
          f"{(status_kib('VmHWM') - before) / 1024:.0f} MiB (the result holds "
          f"{(region.spectra.nbytes + 3 * region.mapX.nbytes) / 2**20:.0f} MiB)")


if __name__ == "__main__":
    main()
