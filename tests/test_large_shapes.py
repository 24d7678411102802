"""Large shapes read back exactly what was written: sizes that cross the fill's inner boundaries (the
transposed fill's 64-pixel and 32-record tiles, its 256-record and 8 MiB batches, the scattered read's
1024-piece and 64 KiB-gap flushes, series past 512 records, info areas past the 4096 bytes read whole for
a time) and the bisection that finds the first record no seek reaches. Windows of each agree too."""

import numpy as np
import pytest

import kestrel
from compare_3d import compare
from kestrel_tools import _native
from opusfile import (REGION_COLUMNS, anno_table, annotation_block, block3d, data3d, data_block, EXT_3D, image_map,
                      opus, params, region_rows)

rng = np.random.default_rng(11)


def values(*shape):
    return rng.standard_normal(shape).astype(np.float32)


def transposed(npy, npx, npt):
    c = values(npy, npx, npt)
    return image_map("AB", c.tolist(), transposed=True), "AB", c


def per_position(npy, npx, npt, info_size=216):
    c = values(npy, npx, npt)
    return image_map("AB", c.tolist(), info_size=info_size), "AB", c


def trace_map(npy, npx, traces):
    images = values(traces, npy * npx)
    return (data3d("TRC", images.tolist(), labels=[f"t{k}" for k in range(traces)], NPX=npx, NPY=npy, AOX=0.0,
                   AOY=0.0, DDX=1.0, DDY=1.0), "TRC", images.T.reshape(npy, npx, traces))


def series(records, npt, info_size=216):
    s = values(records, npt)
    return data3d("AB", s.tolist(), times=[0.25 * k for k in range(records)], info_size=info_size), "AB", s


def regions(points, npt, info_size):
    s = values(points, npt)
    rows = region_rows(1, [(float(k), 0.0) for k in range(points)])
    return ([data3d("AB", s.tolist(), entries=[(1, points)], info_size=info_size),
             annotation_block(anno_table(REGION_COLUMNS, rows))], "AB", s)


CASES = {
    "transposed: tiles and 256-record batches, odd remainders": lambda: transposed(13, 11, 600),
    "transposed: images past the 8 MiB batch": lambda: transposed(91, 91, 300),
    "trace map: 300 traces of 63 pixels": lambda: trace_map(7, 9, 300),
    "per position: 1600 records, past 1024 pieces": lambda: per_position(40, 40, 5),
    "per position: info areas past the 64 KiB gap": lambda: per_position(3, 7, 6, info_size=70000),
    "series: 700 records": lambda: series(700, 7),
    "series: info areas past the 64 KiB gap": lambda: series(20, 9, info_size=70000),
    "regions: info areas past 4096 bytes": lambda: regions(300, 11, 5000),
    "regions: 3000 points": lambda: regions(3000, 3, 216),
}


def main_array(r):
    if hasattr(r, "regions"):
        return np.concatenate([g.spectra for g in r.regions])
    return r.spectra if hasattr(r, "spectra") else r.traces


@pytest.mark.parametrize("case", CASES)
def test_large_shapes_read_back_exactly(write, case):
    """A fill that drops or misplaces values at a tile, batch or flush edge shows up only at these sizes."""
    blocks, name, expected = CASES[case]()
    path = write(opus(blocks))
    request = (name, "3D", "NONE")
    got = main_array(kestrel.getOpusData(path, request))
    assert got.shape == expected.shape and got.tobytes() == expected.tobytes()
    shape = expected.shape
    for frac in [(0.0, 0.3), (0.31, 0.77), (0.5, 1.0)]:
        window = [(int(n * frac[0]), int(n * frac[1])) for n in shape]
        out = np.empty([b - a for a, b in window], np.float32)
        _native.read_window(path, request, window, out)
        assert out.tobytes() == expected[tuple(slice(a, b) for a, b in window)].tobytes(), window


@pytest.mark.parametrize("npt, block_size, stored", [(4, 12, 5), (3, 12, 3)], ids=["neither layout", "both layouts"])
def test_first_unseekable_record_is_found_by_bisection(write, npt, block_size, stored):
    """A run of 100000 records walking backwards past the file start, in a map that reads none of them:
    the error is the seek of the first record before the start, exactly where the literal walk meets it."""
    info_size = -block_size - 40  # each record 40 bytes before the previous one
    payload = block3d([], [(0, 99_999)], block_size=block_size, info_size=info_size, block_offset=3_000_000,
                      stored_blocks=stored)
    p = dict(NPT=npt, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=1, NPY=4)
    path = write(opus(params(p, name="AB", extend=EXT_3D), data_block("AB", payload, extend=EXT_3D)))
    _, error, _, _ = compare(path, ("AB", "3D", "NONE"))
    assert isinstance(error, OSError)
