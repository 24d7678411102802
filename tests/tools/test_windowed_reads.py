"""Windowed reads: any outer-indexing key becomes one window plus a numpy index that picks the same
elements numpy would; the window layer fills exactly the window and counts what it was asked for."""

import numpy as np
import pytest

import kestrel
from kestrel_tools import _windows
from kestrel_tools.xarray_backend.windowing import pick, window_of
from kind_files import KINDS

SHAPE = (6, 7, 5)
CUBE = np.arange(np.prod(SHAPE), dtype=np.float32).reshape(SHAPE)


def outer(array, key):
    """Reference outer indexing: one axis at a time."""
    for axis in reversed(range(len(key))):
        index = [slice(None)] * array.ndim
        index[axis] = key[axis]
        array = array[tuple(index)]
    return array


KEYS = [
    (slice(None),) * 3,
    (2, slice(1, 5), slice(None)),
    (-1, -7, slice(4, 0, -1)),
    (slice(None, None, 2), slice(6, None, -3), 4),
    (slice(5, 0, -2), np.array([6, 0, 3]), np.array([1])),
    (np.array([4, 4, 1]), slice(2, 2), slice(0, 5, 4)),
    (np.array([], dtype=int), 3, np.array([-1, 0])),
    (slice(-2, None), slice(None, -8, -1), slice(3, 100)),
]


@pytest.mark.parametrize("key", KEYS, ids=range(len(KEYS)))
def test_window_then_pick_equals_outer_indexing(key):
    window, then = window_of(key, SHAPE)
    read = CUBE[tuple(slice(a, b) for a, b in window)]
    assert np.array_equal(pick(read, then), outer(CUBE, key))
    assert all(0 <= a <= b <= n for (a, b), n in zip(window, SHAPE))


def test_window_is_the_smallest_box_around_the_selection():
    window, _ = window_of((np.array([4, 2]), slice(6, 0, -2), 3), SHAPE)
    assert window == [(2, 5), (2, 7), (3, 4)]


def test_row_numbers_pass_through_on_multi_region_blocks():
    window, then = window_of((np.array([5, 0, 3]), slice(1, 3)), (6, 4), rows_by_number=True)
    assert window[0].dtype == np.int64 and window[0].tolist() == [5, 0, 3] and window[1] == (1, 3)


@pytest.mark.parametrize("key", [(6, 0, 0), (0, np.array([7]), 0), (0, np.array([0.5]), 0), (0, 0)])
def test_bad_keys_raise_index_error(key):
    with pytest.raises(IndexError):
        window_of(key, SHAPE)


@pytest.mark.parametrize("kind", KINDS)
def test_plan_and_window_match_the_eager_read(kind_file, kind):
    """The plan describes the eager result, and a window holds exactly its slice of the main array."""
    from kestrel_tools._layout import plan_of_result
    path, block = kind_file(kind)
    expected_plan, full = plan_of_result(kestrel.getOpusData(path, block))
    plan = _windows.plan(path, block)
    assert plan["kind"] == kind and plan["shape"] == full.shape
    window = [(min(1, n), max(min(1, n), n - 1)) for n in full.shape]
    out = np.empty([b - a for a, b in window], dtype=np.float32)
    _windows.read_window(path, block, window, out)
    assert np.array_equal(out, full[tuple(slice(a, b) for a, b in window)])
    if kind.startswith("multi_region"):
        rows = np.array([4, 0, 2], dtype=np.int64)
        out = np.empty((3, full.shape[1]), dtype=np.float32)
        _windows.read_window(path, block, [rows, (0, full.shape[1])], out)
        assert np.array_equal(out, full[rows])


def test_reads_are_counted_and_checked(kind_file):
    path, block = kind_file("image_map")
    _windows.reset_read_stats()
    out = np.empty((2, 1, 6), dtype=np.float32)
    _windows.read_window(path, block, [(0, 2), (3, 4), (0, 6)], out)
    stats = _windows.read_stats()
    assert stats == {"windows": 1, "bytes": out.nbytes}
    with pytest.raises(ValueError, match="shape"):
        _windows.read_window(path, block, [(0, 2), (0, 2), (0, 6)], out)


def test_windows_go_to_the_native_module_as_given(kind_file, monkeypatch):
    """Every plan and window is the native module's, the window passed on as given."""
    from kestrel_tools import _native
    path, block = kind_file("multi_region")
    calls = []

    def fake_plan(p, b):
        calls.append(("plan", p, b))
        return {"kind": "multi_region", "shape": [6, 3]}  # native plans may give lists

    def fake_read(p, b, window, out):
        calls.append(("read", p, b, window))
        out[...] = 7.0

    monkeypatch.setattr(_native, "plan", fake_plan)
    monkeypatch.setattr(_native, "read_window", fake_read)
    assert _windows.plan(path, block)["shape"] == (6, 3)
    out = np.empty((2, 3), dtype=np.float32)
    _windows.read_window(path, block, [np.array([5, 1], dtype=np.int64), (0, 3)], out)
    assert (out == 7.0).all() and [c[0] for c in calls] == ["plan", "read"]
    assert calls[1][3][0].tolist() == [5, 1] and calls[1][3][1] == (0, 3)
