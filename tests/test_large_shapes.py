"""Large shapes read back exactly what was written: sizes that cross the fill's inner boundaries (the
transposed fill's 4-pixel groups, its 256-record batches and the row blocks it reads large images in, the scattered read's
1024-piece and 64 KiB-gap flushes, series past 512 records, info areas past the 4096 bytes read whole for
a time) and the bisection that finds the first record no seek reaches. Windows of each agree too. And the
large honest results a cap once refused: a stopped map's mostly empty cube, a table of millions of rows."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

import kestrel
from compare_3d import compare, main_array
from kestrel_tools import _native
from opusfile import (ANNO_INT, EXT_3D, REGION_COLUMNS, AnnoTable, anno_table, annotation_block, block3d, data3d,
                      data_block, image_map, opus, params, region_rows)

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
    "transposed: images read in row blocks": lambda: transposed(91, 91, 300),
    "transposed: windows skip the long gaps between their rows": lambda: transposed(70, 70, 40),
    "trace map: 300 traces of 63 pixels": lambda: trace_map(7, 9, 300),
    "per position: 1600 records, past 1024 pieces": lambda: per_position(40, 40, 5),
    "per position: info areas past the 64 KiB gap": lambda: per_position(3, 7, 6, info_size=70000),
    "series: 700 records": lambda: series(700, 7),
    "series: info areas past the 64 KiB gap": lambda: series(20, 9, info_size=70000),
    "regions: info areas past 4096 bytes": lambda: regions(300, 11, 5000),
    "regions: 3000 points": lambda: regions(3000, 3, 216),
}


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


SPARSE_PROBE = """
import json, sys
import numpy as np
import kestrel

def resident_kib():
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))

before = resident_kib()
cube = kestrel.getOpusData(sys.argv[1], ("AB", "3D", "NONE")).spectra
grown = resident_kib() - before
print(json.dumps([list(cube.shape), cube[0, :3].tobytes().hex(), bool(cube[1].any() or cube[-1, -1].any()), grown]))
"""


def test_a_stopped_map_reads_its_large_empty_cube_as_zero_pages(write):
    """A 512 x 512 x 2048 map (2 GiB of float32) stopped after three positions: it reads, zero where nothing
    was recorded, and costs the recorded spectra in resident memory, not the cube (it used to be refused
    as too large for its file)."""
    spectra = values(3, 2048)
    payload = block3d([s.tolist() for s in spectra], block_size=4 * 2048, stored_blocks=3)
    p = dict(NPT=2048, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=512, NPY=512)
    path = write(opus(params(p, name="AB", extend=EXT_3D), data_block("AB", payload, extend=EXT_3D)))
    done = subprocess.run([sys.executable, "-c", SPARSE_PROBE, path], capture_output=True, text=True, check=True)
    shape, first, nonzero, grown_kib = json.loads(done.stdout)
    assert shape == [512, 512, 2048] and first == spectra.tobytes().hex() and not nonzero
    assert grown_kib < 64 * 1024


@pytest.mark.skipif(os.environ.get("KESTREL_SANITIZED") == "1", reason="hundreds of MiB under the sanitizer")
def test_an_annotation_table_of_2097153_rows_of_8_columns_reads(write):
    """16.8 million cells, every byte in the file: more than a fixed cell cap allowed, so it was refused."""
    n = 2_097_153
    rows = np.zeros(n, dtype=[(name, "<i4" if code == ANNO_INT else "<f4") for name, code in REGION_COLUMNS])
    rows["Group"] = 1
    rows["Fileindex"] = np.arange(1, n + 1)
    rows["X"] = np.arange(n) % 1000
    table = anno_table(REGION_COLUMNS, [], NLN=n)
    spectra = values(4, 2)
    path = write(opus(data3d("AB", spectra.tolist(), entries=[(1, 4)]),
                      annotation_block(AnnoTable(table.description, rows.tobytes()))))
    region, = kestrel.getOpusData(path, ("AB", "3D", "NONE")).regions
    assert region.title == f"Region 1 ({n} points)" and region.spectra.shape == (n, 2)
    assert region.spectra[:4].tobytes() == spectra.tobytes() and not region.spectra[4:].any()
    assert region.mapX[3] == 3.0 and region.mapX[4] == 0.0  # points without a stored spectrum keep zeros
