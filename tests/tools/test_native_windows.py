"""kestrel_tools._native.plan and read_window against getOpusData: the plan describes the result getOpusData
returns, and every window equals the same slice of its main array (all regions' rows stacked for multi-region
maps). A damaged file's windows either read what the intact file holds there or raise exactly what
getOpusData raises, and the full window always raises."""

import random

import numpy as np
import pytest

import kestrel
from compare_3d import main_array
from kestrel_tools import _native
from opusfile import (REGION_COLUMNS, EXT_3D, anno_table, annotation_block, data3d, image_map, opus, region_rows)

RNG = np.random.default_rng(7)


# Parameters and annotations come first, the data block last: a cut file loses records, not its directory.
LAST = dict(params_first=True)


def cube(rows, cols, points):
    return RNG.standard_normal((rows, cols, points)).astype(np.float32).tolist()


def series(records, points, *, trace=False):
    values = RNG.standard_normal((records, points)).astype(np.float32).tolist()
    if trace:
        return data3d("TRC", values, labels=[f"trace {k}" for k in range(records)], **LAST)
    return data3d("AB", values, times=[1.5 * k for k in range(records)], **LAST)


def trace_map(rows, cols, traces):
    images = RNG.standard_normal((traces, rows * cols)).astype(np.float32).tolist()
    return data3d("TRC", images, labels=[f"t{k}" for k in range(traces)], NPX=cols, NPY=rows, AOX=1.0, AOY=2.0,
                  DDX=0.5, DDY=-0.5, **LAST)


def regions(name, records, points):
    values = RNG.standard_normal((records, points)).astype(np.float32).tolist()
    grid = region_rows(1, [(x * 10.0, y * 10.0) for y in range(2) for x in range(3)], nx=3, ny=2)
    free = region_rows(2, [(500.0, 1.0), (510.0, 2.0), (520.0, 3.0), (530.0, 4.0)], first_index=7)
    if name == "TRC":
        return [annotation_block(anno_table(REGION_COLUMNS, grid + free)),
                data3d("TRC", values, labels=[f"r{k}" for k in range(records)], **LAST)]
    # One point whose file index names no stored record: a zero row.
    free[2] = free[2][:5] + (99,) + free[2][6:]
    return [annotation_block(anno_table(REGION_COLUMNS, grid + free)),
            data3d(name, values, times=[2.0 * k for k in range(records)], entries=[(1, records)], **LAST)]


CASES = {
    "per-position map": (image_map("AB", cube(5, 7, 9), **LAST), "AB"),
    "transposed map": (image_map("AB", cube(5, 7, 9), transposed=True, **LAST), "AB"),
    "trace map": (trace_map(4, 3, 5), "TRC"),
    "series": (series(6, 9), "AB"),
    "trace series": (series(6, 9, trace=True), "TRC"),
    "multi-region map": (regions("AB", 10, 9), "AB"),
    "multi-region trace map": (regions("TRC", 6, 11), "TRC"),
}


def windows(shape, regions, count=25, seed=0):
    rng = random.Random(seed)
    out = [tuple((0, n) for n in shape)]
    for _ in range(count):
        window = []
        for n in shape:
            a, b = sorted((rng.randint(0, n), rng.randint(0, n)))
            window.append((a, b))
        if regions and shape[0] and rng.random() < 0.4:
            window[0] = np.array([rng.randrange(shape[0]) for _ in range(rng.randint(1, 6))], dtype=np.int64)
        out.append(tuple(window))
    return out


def index_of(window):
    return tuple(w if isinstance(w, np.ndarray) else slice(*w) for w in window)


def extent(w):
    return len(w) if isinstance(w, np.ndarray) else w[1] - w[0]


def read(path, request, window):
    out = np.full(tuple(extent(w) for w in window), np.nan, dtype=np.float32)
    _native.read_window(path, request, list(window), out)
    return out


def error_of(call):
    try:
        call()
    except Exception as e:  # noqa: BLE001 - compared with getOpusData's
        return e
    return None


def build(write, name, cut=None):
    blocks, kind = CASES[name]
    data = opus(blocks)
    return write(data if cut is None else data[:cut]), (kind, "3D", "NONE"), len(data)


@pytest.mark.parametrize("name", CASES)
def test_plan_describes_the_result_and_windows_equal_slices(write, name):
    """A plan that disagrees with getOpusData, or a window that is not the slice, breaks lazy readers."""
    path, request, _ = build(write, name)
    result = kestrel.getOpusData(path, request)
    full = main_array(result)
    plan = _native.plan(path, request)
    assert plan["shape"] == full.shape and plan["dtype"] == "float32" and plan["failed_at"] is None
    assert plan["x"].tobytes() == result.x.tobytes() and plan["parameters"] == result.parameters
    if hasattr(result, "mapX") and not hasattr(result, "regions"):
        assert plan["mapX"].tobytes() == result.mapX.tobytes() and plan["mapY"].tobytes() == result.mapY.tobytes()
    if hasattr(result, "z"):
        assert plan["z"].tobytes() == result.z.tobytes()
    if hasattr(result, "labels"):
        assert plan["labels"] == result.labels
    if hasattr(result, "regions"):
        assert [(r["title"], r["stop"] - r["start"]) for r in plan["regions"]] == \
            [(r.title, len(r.spectra)) for r in result.regions]
        for mine, theirs in zip(plan["regions"], result.regions):
            assert mine["mapX"].tobytes() == theirs.mapX.tobytes() and mine["mapY"].tobytes() == theirs.mapY.tobytes()
            assert (mine["start_time"] is None) == (theirs.start_time is None)
            if theirs.start_time is not None:
                assert mine["start_time"].tobytes() == theirs.start_time.tobytes()
    for window in windows(full.shape, hasattr(result, "regions")):
        assert read(path, request, window).tobytes() == full[index_of(window)].tobytes(), window


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("fraction", [0.55, 0.8, 0.97])
def test_damaged_windows_read_what_is_there_or_raise_as_getopusdata(write, name, fraction):
    """A cut file: windows before the damage read the intact values, the others raise getOpusData's error."""
    intact_path, request, size = build(write, name)
    intact = main_array(kestrel.getOpusData(intact_path, request))
    path, _, _ = build(write, name, cut=int(size * fraction))
    expected = error_of(lambda: kestrel.getOpusData(path, request))
    if expected is None:
        pytest.skip("this cut leaves a readable file")
    planned = error_of(lambda: _native.plan(path, request))
    if planned is not None:
        # Nothing can be read: plan itself raises what the full read raises.
        assert (type(planned), str(planned)) == (type(expected), str(expected))
        return
    shape = _native.plan(path, request)["shape"]
    assert shape == intact.shape
    full = tuple((0, n) for n in shape)
    for window in [full] + windows(shape, "regions" in name, seed=1)[1:]:
        error = error_of(lambda: read(path, request, window))
        if error is None:
            assert read(path, request, window).tobytes() == intact[index_of(window)].tobytes(), window
        else:
            assert (type(error), str(error)) == (type(expected), str(expected)), window
    assert error_of(lambda: read(path, request, full)) is not None


@pytest.mark.parametrize("window, out, error", [
    ([(0, 5), (0, 7)], (5, 7), ValueError),              # an axis missing
    ([(0, 6), (0, 7), (0, 9)], (6, 7, 9), ValueError),   # past the shape
    ([(3, 2), (0, 7), (0, 9)], (0, 7, 9), ValueError),   # start after stop
    ([(0, 5), (0, 7), (0, 9)], (5, 7, 8), ValueError),   # out of another shape
    ([(0, 5), (0, 7), (0, 9)], None, ValueError),        # out of another dtype
])
def test_bad_windows_and_buffers_are_refused(write, window, out, error):
    """A window or buffer that does not fit must never be written through."""
    path, request, _ = build(write, "per-position map")
    buffer = np.zeros(out, np.float32) if out is not None else np.zeros((5, 7, 9), np.float64)
    with pytest.raises(error):
        _native.read_window(path, request, window, buffer)
