"""Small OPUS files of every kind of block, for the kestrel_tools tests: each
builder returns (file bytes, block triple)."""

import numpy as np

from opusfile import REGION_COLUMNS, anno_table, annotation_block, data3d, image_map, opus, region_rows, spectrum

rng = np.random.default_rng(11)

KINDS = ["spectrum", "image_map", "trace_map", "series", "trace_series", "multi_region", "multi_region_trace"]


def values(*shape):
    return rng.normal(size=shape).astype(np.float32)


def spectrum_file(npt=7, **extra):
    return opus(spectrum("AB", values(npt).tolist(), FXV=4000.0, LXV=400.0, **extra)), ("AB", "2D", "NONE")


def image_map_file(npy=4, npx=5, npt=6, transposed=False, params_first=False):
    """params_first puts the parameters before the records, so cutting the file short damages records only."""
    cube = values(npy, npx, npt)
    return opus(image_map("AB", cube.tolist(), transposed=transposed, AOX=-2.0, AOY=10.0, DDX=0.5, DDY=-1.0,
                          FXV=4000.0, LXV=400.0, params_first=params_first)), ("AB", "3D", "NONE")


def trace_map_file(npy=3, npx=4, traces=3):
    records = values(traces, npy * npx).tolist()
    return opus(data3d("TRC", records, labels=[f"band {k}" for k in range(traces)], AOX=0.0, AOY=0.0, DDX=2.0,
                       DDY=1.0, NPX=npx, NPY=npy)), ("TRC", "3D", "NONE")


def series_file(n=5, npt=6):
    return opus(data3d("AB", values(n, npt).tolist(), times=[1.5 * k for k in range(n)], ZTX="s",
                       FXV=3000.0, LXV=1000.0)), ("AB", "3D", "NONE")


def trace_series_file(traces=3, npt=8):
    return opus(data3d("TRC", values(traces, npt).tolist(), labels=["peak", "area", "ratio"][:traces],
                       DXU="MIN")), ("TRC", "3D", "NONE")


def region_annotations(first=0, shift=2):
    """Region 5 a 2 x 2 grid, region 2 two free points."""
    rows = (region_rows(5, [(0.5, 1.0), (1.5, 1.0), (0.5, 2.0), (1.5, 2.0)], nx=2, ny=2, first_index=first)
            + region_rows(2, [(9.0, 9.5), (10.0, 9.5)], first_index=first + shift))
    return annotation_block(anno_table(REGION_COLUMNS, rows))


def multi_region_file(npt=3):
    records = values(6, npt).tolist()
    return opus(data3d("AB", records, times=[0.25 * k for k in range(6)]),
                region_annotations(0, 4)), ("AB", "3D", "NONE")


def multi_region_trace_file():
    # two traces over four points: file index p is point p - 1 of every trace
    return opus(data3d("TRC", values(2, 4).tolist(), labels=["trace 0", "trace 1"]),
                region_annotations(1, 2)), ("TRC", "3D", "NONE")


BUILDERS = {
    "spectrum": spectrum_file, "image_map": image_map_file, "trace_map": trace_map_file, "series": series_file,
    "trace_series": trace_series_file, "multi_region": multi_region_file,
    "multi_region_trace": multi_region_trace_file,
}
