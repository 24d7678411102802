"""How much of a file _native reads, and which file: parameters() reads the parameter blocks alone and says
what getOpusData says about them, plan(times=False) leaves the per-record times to read_times(), a plan
refuses a claim the file could not hold instead of sizing it, and a read given the identity of the file it
planned refuses a file that changed since."""

import os
import pickle
import tracemalloc

import numpy as np
import pytest

import kestrel
from kestrel_tools import _native
from opusfile import EXT_3D, block3d, data3d, data_block, opus, params
from test_3d_literal import ORIGINAL, derived
from test_native_windows import CASES, error_of


def same_error(mine, theirs):
    assert theirs is not None and type(mine) is type(theirs) and str(mine) == str(theirs)


def big_series(records, points):
    values = np.arange(records * points, dtype=np.float32).reshape(records, points).tolist()
    return opus(data3d("AB", values, times=[0.5 * k for k in range(records)], params_first=True))


def bytes_read(call):
    before = _native._bytes_read()
    call()
    return _native._bytes_read() - before


def one_position_map(**changes):
    """A map of one position; changes replace its parameters (None drops one)."""
    entries = dict(NPT=2, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, DXU="WN", AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=1,
                   NPY=1) | changes
    entries = {k: v for k, v in entries.items() if v is not None}
    return [params(entries, name="AB", extend=EXT_3D), data_block("AB", block3d([[1.0, 2.0]]), extend=EXT_3D)]


PARAMETER_FILES = {name: blocks for name, (blocks, _) in CASES.items()} | {
    "derived map, original grid": derived("NPX", ORIGINAL),
    "derived map, no original": derived("NPX", None),
    "derived map, original without DDY": derived("NPX", {k: v for k, v in ORIGINAL.items() if k != "DDY"}),
    "text FXV": one_position_map(FXV="abc"),
    "negative NPT": one_position_map(NPT=-1),
    "NPT missing": one_position_map(NPT=None),
    "NPX negative": one_position_map(NPX=-1),
    "text AOX": one_position_map(AOX="x"),
}


@pytest.mark.parametrize("name", PARAMETER_FILES)
def test_parameters_are_getopusdatas_or_its_error(write, name):
    blocks = PARAMETER_FILES[name]
    path = write(opus(blocks))
    request = (["AB", "TRC"][blocks[0].data == 7], "3D", ["NONE", "1DER", "2DER", "NDER"][blocks[0].deriv])
    try:
        expected = kestrel.getOpusData(path, request).parameters
    except Exception as e:  # noqa: BLE001 - parameters() must raise the same
        same_error(error_of(lambda: _native.parameters(path, request)), e)
        return
    got = _native.parameters(path, request)
    assert list(got.items()) == list(expected.items())


def test_parameters_and_a_plan_without_times_read_a_small_part_of_a_series(write):
    path = write(big_series(4000, 64))
    size = os.path.getsize(path)
    block = ("AB", "3D", "NONE")
    assert bytes_read(lambda: _native.parameters(path, block)) < 64 * 1024
    assert bytes_read(lambda: _native.plan(path, block, times=False)) <= max(size // 50, 256 * 1024)
    assert bytes_read(lambda: _native.plan(path, block)) > 4000 * 8  # the times are 8 bytes per record


@pytest.mark.parametrize("name", CASES)
def test_times_come_apart_from_the_plan(write, name):
    blocks, kind = CASES[name]
    path, block = write(opus(blocks)), (kind, "3D", "NONE")
    full, bare = _native.plan(path, block), _native.plan(path, block, times=False)
    times = _native.read_times(path, block)
    if "z" in full:
        assert bare["z"] is None and times.tobytes() == full["z"].tobytes()
    elif "regions" in full:
        assert [r["start_time"] for r in bare["regions"]] == [None] * len(full["regions"])
        for got, region in zip(times, full["regions"]):
            assert (got is None and region["start_time"] is None) or got.tobytes() == region["start_time"].tobytes()
    else:
        assert times is None
    assert bare["shape"] == full["shape"] and bare["failed_at"] == full["failed_at"]


@pytest.mark.parametrize("claim", [150_000_000, 2**31 - 1])
def test_a_series_claiming_more_records_than_the_file_holds_is_refused_at_once(write, claim):
    """A 1.6 KB file must not cost a time axis of every claimed record: plan raises getOpusData's error."""
    path = write(opus(data3d("AB", [[1.0, 2.0], [3.0, 4.0]], entries=[(0, claim)])))
    block = ("AB", "3D", "NONE")
    expected = error_of(lambda: kestrel.getOpusData(path, block))
    tracemalloc.start()
    try:
        for call in (lambda: _native.plan(path, block), lambda: _native.read_times(path, block)):
            same_error(error_of(call), expected)
        assert tracemalloc.get_traced_memory()[1] < 8 << 20
    finally:
        tracemalloc.stop()


def test_a_series_cut_short_still_plans_the_rows_before_the_cut(write):
    data = big_series(40, 8)
    path = write(data[:int(len(data) * 0.6)])
    plan = _native.plan(path, ("AB", "3D", "NONE"))
    assert plan["shape"][0] == 40 and 0 < plan["failed_at"] < 40 and np.isnan(plan["z"][plan["failed_at"]:]).all()


@pytest.mark.parametrize("changes", [dict(FXV="abc", NPT=2**31 - 1), dict(LXV="1.0", NPT=2**31 - 1),
                                     dict(AOX="x", NPX=2**31 - 1), dict(AOY="y", NPY=2**31 - 1)])
def test_the_axis_cap_does_not_answer_before_numpy(write, changes):
    """Axes past the size cap between ends that are not numbers fail with Python's or numpy's own error,
    as the eager read does (and as the literal steps would, without sizing the axis)."""
    path = write(opus(one_position_map(**changes)))
    block = ("AB", "3D", "NONE")
    expected = error_of(lambda: kestrel.getOpusData(path, block))
    assert type(expected).__name__ in ("DTypePromotionError", "TypeError")
    for call in (lambda: _native.plan(path, block), lambda: _native.parameters(path, block)):
        same_error(error_of(call), expected)


@pytest.mark.parametrize("change", ["rewritten", "replaced"])
@pytest.mark.parametrize("call", ["read_window", "read_times"])
def test_a_read_given_the_files_identity_refuses_another_file(write, change, call):
    data = big_series(6, 4)
    path = write(data)
    block = ("AB", "3D", "NONE")
    identity = _native.plan(path, block)["identity"]
    assert len(identity) == 5 and all(isinstance(n, int) for n in identity)
    out = np.empty((6, 4), np.float32)

    def read():
        if call == "read_window":
            return _native.read_window(path, block, [(0, 6), (0, 4)], out, identity=identity)
        return _native.read_times(path, block, identity=identity)

    read()  # the same file reads
    if change == "rewritten":
        with open(path, "r+b") as f:
            f.seek(len(data) - 4)
            f.write(b"\1\2\3\4")
            f.write(b"\0")
    else:
        os.replace(write(data), path)
    with pytest.raises(OSError) as caught:
        read()
    for error in (caught.value, pickle.loads(pickle.dumps(caught.value))):  # as a worker's error arrives
        assert str(error) == f"{path}: the file changed since it was opened" and error.filename == path


@pytest.mark.parametrize("source", ["path", "bytes", "file object"])
@pytest.mark.parametrize("name", ["per-position map", "derived map, original grid", "text FXV"])
def test_describe_is_the_listing_the_block_and_its_parameters(write, source, name):
    """describe() opens the source once and says what contents() and parameters() say, or raises their error;
    a callable block is given the listing and chooses."""
    blocks = PARAMETER_FILES[name]
    path = write(opus(blocks))
    block = ("AB", "3D", ["NONE", "1DER", "2DER", "NDER"][blocks[0].deriv])
    data = open(path, "rb").read()
    make = {"path": lambda: path, "bytes": lambda: data, "file object": lambda: open(path, "rb")}[source]
    seen = []
    try:
        expected = (_native.contents(make()), block, _native.parameters(path, block))
    except Exception as e:  # noqa: BLE001 - describe() must raise the same
        same_error(error_of(lambda: _native.describe(make(), block)), e)
        return
    for choose in (block, lambda listing: seen.append(listing) or block):
        listing, chosen, parameters = _native.describe(make(), choose)
        assert (listing, tuple(chosen), list(parameters.items())) == (expected[0], block, list(expected[2].items()))
    assert seen == [expected[0]]


def test_describe_raises_the_listings_error_first_and_the_choosers_own(write):
    not_opus = write(b"\x00" * 64)
    with pytest.raises(ValueError, match="non-Opus"):
        _native.describe(not_opus, ("XX", "2D", "NONE"))
    path = write(opus(PARAMETER_FILES["per-position map"]))

    def refuse(listing):
        raise LookupError(f"none of {len(listing)}")

    with pytest.raises(LookupError, match="none of 1"):
        _native.describe(path, refuse)
