"""kestrel_tools._native keeps the plans of files it read: a file rewritten or replaced under the same path is
read afresh, a damaged file raises the same error on every call, and threads sharing kept plans read the
right values. Plans are kept only for files unmodified for a few seconds, so the files here are written
once and left to settle before the tests run."""

import os
import threading
import time

import numpy as np
import pytest

import kestrel
from compare_3d import main_array
from kestrel_tools import _native
from opusfile import image_map, opus
from test_native_windows import CASES, error_of, windows

BLOCK = ("AB", "3D", "NONE")
SETTLE_SECONDS = 3.2
CUTS = [0.55, 0.8, 0.97]


def map_bytes(rows, cols, points, seed, params_first=True):
    values = np.random.default_rng(seed).standard_normal((rows, cols, points)).astype(np.float32).tolist()
    return opus(image_map("AB", values, params_first=params_first))


@pytest.fixture(scope="module")
def settled(tmp_path_factory):
    """Every file the tests read, written at once and then left unmodified long enough for plans to be kept."""
    folder = tmp_path_factory.mktemp("settled")
    files = {}

    def put(key, data):
        path = folder / f"{len(files)}.0"
        path.write_bytes(data)
        files[key] = str(path)

    for how in ("grown", "same size", "replaced"):
        put(how, map_bytes(5, 7, 9, seed=1))
    for k in range(10):
        put(("small", k), map_bytes(3, 4, 5, seed=10 + k))
    for name, (blocks, _) in CASES.items():
        data = opus(blocks)
        for fraction in CUTS:
            put((name, fraction), data[:int(len(data) * fraction)])
    time.sleep(SETTLE_SECONDS)
    return files


def full_window(path, block):
    shape = _native.plan(path, block)["shape"]
    out = np.empty(shape, np.float32)
    _native.read_window(path, block, [(0, n) for n in shape], out)
    return out


@pytest.mark.parametrize("how", ["grown", "same size", "replaced"])
def test_a_file_rewritten_under_its_path_is_read_afresh(settled, tmp_path, how):
    """A kept plan applied to other bytes would read values from the wrong places or past the end."""
    path = settled[how]
    assert full_window(path, BLOCK).tobytes() == main_array(kestrel.getOpusData(path, BLOCK)).tobytes()
    stamp = os.stat(path).st_mtime_ns
    # The same blocks in another order give a file of the same size whose records lie elsewhere.
    data = map_bytes(6, 7, 9, seed=2) if how == "grown" else map_bytes(5, 7, 9, seed=2, params_first=False)
    if how == "replaced":
        (tmp_path / "new.0").write_bytes(data)
        os.replace(tmp_path / "new.0", path)
    else:
        size = os.path.getsize(path)
        with open(path, "r+b") as f:
            f.write(data)
            f.truncate()
        assert (os.path.getsize(path) == size) == (how == "same size")
        os.utime(path, ns=(stamp, stamp))  # as if rewritten within one tick of the file clock
    assert full_window(path, BLOCK).tobytes() == main_array(kestrel.getOpusData(path, BLOCK)).tobytes()


def outcomes(path, request, shape, regions):
    """Each window's values, or its error's type and text."""
    done = []
    for window in windows(shape, regions, count=8, seed=3):
        out = np.empty(tuple(len(w) if isinstance(w, np.ndarray) else w[1] - w[0] for w in window), np.float32)
        error = error_of(lambda: _native.read_window(path, request, list(window), out))
        done.append(out.tobytes() if error is None else (type(error), str(error)))
    return done


@pytest.mark.parametrize("name", CASES)
def test_a_damaged_file_raises_the_same_error_on_every_call(settled, name):
    """Windows of a damaged file whose plan was kept must still read or raise exactly as on the first call,
    and the whole block must raise what getOpusData raises."""
    request = (CASES[name][1], "3D", "NONE")
    for fraction in CUTS:
        path = settled[(name, fraction)]
        expected = error_of(lambda: kestrel.getOpusData(path, request))
        planned = error_of(lambda: _native.plan(path, request))
        if planned is not None:
            assert error_of(lambda: _native.plan(path, request)).args == planned.args
            continue
        shape = _native.plan(path, request)["shape"]
        first = outcomes(path, request, shape, "regions" in name)
        assert outcomes(path, request, shape, "regions" in name) == first
        if expected is not None:
            assert first[0] == (type(expected), str(expected))


def test_threads_reading_kept_plans_get_the_right_values(settled):
    """Two threads read windows of more files than are kept, so plans are shared and dropped while in use."""
    paths = [settled[("small", k)] for k in range(10)]
    expected = [main_array(kestrel.getOpusData(p, BLOCK)) for p in paths]
    start = threading.Barrier(2)
    wrong = []

    def reader(seed):
        rng = np.random.default_rng(seed)
        start.wait()
        for _ in range(300):
            k = int(rng.integers(len(paths)))
            r, c = int(rng.integers(3)), int(rng.integers(4))
            out = np.empty((1, 4 - c, 5), np.float32)
            _native.read_window(paths[k], BLOCK, [(r, r + 1), (c, 4), (0, 5)], out)
            if out.tobytes() != expected[k][r:r + 1, c:].tobytes():
                wrong.append((k, r, c))

    threads = [threading.Thread(target=reader, args=(seed,)) for seed in (1, 2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert wrong == []
