"""What a lazily opened file promises beyond its values: a file replaced or rewritten after opening is
refused rather than mixed in, a damaged file fails a lazy read as it fails the eager one, every Dataset
closes (alone or in a multi-file Dataset), and open_mfdataset keeps which rows came from which file."""

import contextlib
import io
import os
import sys
import warnings

import numpy as np
import pytest

import kestrel
from compare_3d import generated
from kind_files import image_map_file, series_file

xr = pytest.importorskip("xarray")
pytest.importorskip("dask.array")
from kestrel_tools import _native, open_dataset  # noqa: E402

sys.path.insert(0, str(__import__("api_calls").FUZZ_DIR))
import make_corpus  # noqa: E402

CHANGED = "the file changed since it was opened"


def replace(path, data, how):
    """Puts other bytes of the same size under `path`: a new file renamed over it, or the same file
    rewritten (its modification time moved on, as any later write moves it)."""
    if how == "renamed":
        with open(path + ".new", "wb") as f:
            f.write(data)
        os.replace(path + ".new", path)
    else:
        stamp = os.stat(path).st_mtime_ns
        with open(path, "r+b") as f:
            f.write(data)
        os.utime(path, ns=(stamp + 10**9, stamp + 10**9))


@pytest.mark.parametrize("how", ["renamed", "rewritten"])
@pytest.mark.parametrize("chunks", [None, {"y": 2}])
def test_a_replaced_file_is_refused_never_mixed(write, how, chunks):
    """A map replaced by another of the same shape: a read after that raises, before and between chunks."""
    first, block = image_map_file(npy=4, npx=3, npt=5)
    path = write(first)
    ds = open_dataset(path, block, chunks=chunks)
    head = ds.spectra[:2].values  # read before the change: the first file's values
    assert np.array_equal(head, kestrel.getOpusData(path, block).spectra[:2])
    replace(path, image_map_file(npy=4, npx=3, npt=5)[0], how)
    for read in (lambda: ds.spectra.values, lambda: ds.spectra[:2].values, lambda: ds.spectra.mean().values):
        with pytest.raises(OSError, match=CHANGED) as error:
            read()
        assert path in str(error.value)
    assert open_dataset(path, block).spectra.shape == (4, 3, 5)  # opened again, it reads the new file


def outcome(call):
    try:
        with warnings.catch_warnings(), contextlib.redirect_stdout(io.StringIO()):
            warnings.simplefilter("ignore")
            return "ok", call()
    except Exception as error:  # noqa: BLE001 - the outcome is compared
        return "raise", (type(error), str(error))


def damaged_files():
    yield from ((name, data, None) for name, data in make_corpus.scenarios())
    # the generator's varied files, with the map whose NPX is 0 (image 243) and the regions whose table
    # lacks a column (region 87, 89) among them
    for kind, seeds in (("series", range(60)), ("image", [*range(60), 243]), ("region", [*range(60), 87, 89])):
        for seed in seeds:
            data, block = generated(kind, seed)
            yield f"{kind}-{seed}", data, block


def test_lazy_reads_fail_as_the_eager_read_fails(write):
    """The damaged-file catalogue through getOpusData and through a lazy read of the whole block (with
    and without chunks): every file getOpusData refuses, the lazy read refuses with the same exception;
    where both read, the values agree."""
    checked = 0
    for name, data, block in damaged_files():
        path = write(data, name=f"{name}.0")
        listed = ("ok", [block]) if block else outcome(lambda: kestrel.listContents(path))
        blocks = [b for b in listed[1] if b[1] in ("2D", "3D")] if listed[0] == "ok" else []
        for b in dict.fromkeys(blocks):
            eager = outcome(lambda: kestrel.getOpusData(path, b))
            opened = outcome(lambda: open_dataset(path, b))
            if eager[0] == "ok" and opened[0] == "raise":
                continue  # labels the lazy Dataset cannot attach: a matter of the labelled array, not the read
            for chunks in (None, {}):
                lazy = outcome(lambda: open_dataset(path, b, chunks=chunks).to_dataarray().values)
                assert lazy[0] == eager[0], (name, b, eager, lazy)
                if eager[0] == "raise":
                    assert lazy[1] == eager[1], (name, b)
            checked += 1
    assert checked > 250


def test_every_dataset_closes_and_mfdatasets_keep_their_files(write):
    """Closing works alone and in open_mfdataset; the file coordinate says which rows came from which file,
    stacked along a new dimension or along time."""
    paths = [write(series_file(n=2 + k, npt=6)[0]) for k in range(3)]
    with open_dataset(paths[0]) as ds:
        assert ds.file.item() == paths[0]
    xr.open_dataset(paths[0], engine="kestrel").close()
    stacked = xr.open_mfdataset(paths[:1] * 2, engine="kestrel", combine="nested", concat_dim="file")
    assert list(stacked.file.values) == paths[:1] * 2
    stacked.close()
    with xr.open_mfdataset(paths, engine="kestrel", combine="nested", concat_dim="time",
                           coords="different", compat="no_conflicts") as along_time:
        assert along_time.spectra.dims == ("time", "wavenumber")
        assert list(along_time.file.values) == [p for k, p in enumerate(paths) for _ in range(2 + k)]
        eager = np.concatenate([kestrel.getOpusData(p, ("AB", "3D", "NONE")).spectra for p in paths])
        assert np.array_equal(along_time.spectra.values, eager)


@pytest.mark.parametrize("chunks", [None, {}])
def test_opening_a_long_series_reads_none_of_its_records(write, chunks):
    """Opening reads the directory, parameters and tables (well under 2% of a 20,000-record series); the
    times are read when first used, and are getOpusData's."""
    path = write(series_file(n=20_000, npt=4)[0])
    before = _native._bytes_read()
    ds = open_dataset(path, chunks=chunks)
    assert _native._bytes_read() - before <= 0.02 * os.path.getsize(path)
    eager = kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    assert np.array_equal(ds.time.values, eager.z) and np.array_equal(ds.spectra[-3:].values, eager.spectra[-3:])
    assert np.array_equal(ds.set_xindex("time").sel(time=eager.z[7]).spectra.values, eager.spectra[7])
