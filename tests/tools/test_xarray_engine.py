"""The kestrel engine: lazy Datasets equal to the eager labelled arrays, reads of only the window that
indexing asks for, Dask chunks that each read their own window, pickling, errors that name the file, and a
package that imports without xarray."""

import pickle
import subprocess
import sys

import numpy as np
import pytest

import kestrel
from kestrel_tools import _windows
from kind_files import KINDS, image_map_file

xr = pytest.importorskip("xarray")
from kestrel_tools import KestrelBackendEntrypoint, open_dataset, to_xarray  # noqa: E402


def as_eager(lazy, eager):
    """A lazily opened variable without its file coordinate, and with the indexes the eager array has (the
    lazy times come without one: they are read when first used)."""
    lazy = lazy.drop_vars("file")
    for name in set(eager.xindexes) - set(lazy.xindexes):
        lazy = lazy.set_xindex(name)
    return lazy


@pytest.mark.parametrize("kind", KINDS)
def test_lazy_dataset_equals_eager_array(kind_file, kind):
    """open_dataset's variable, once loaded, is to_xarray of getOpusData (values, coordinates, attributes)
    and names its file in a scalar coordinate."""
    path, block = kind_file(kind)
    eager = to_xarray(kestrel.getOpusData(path, block), path=path)
    ds = open_dataset(path, block)
    xr.testing.assert_identical(as_eager(ds[eager.name].load(), eager), eager)
    assert ds.attrs["block"] == " ".join(block) and ds.attrs["source"] == ds.file.item() == path


def test_engine_is_registered_and_declares_its_parameters(kind_file):
    path, _ = kind_file("image_map")
    engines = xr.backends.list_engines()
    assert isinstance(engines["kestrel"], KestrelBackendEntrypoint)
    assert engines["kestrel"].open_dataset_parameters == ("filename_or_obj", "drop_variables", "block",
                                                          "storage_options")
    ds = xr.open_dataset(path, engine="kestrel", block=("AB", "3D", "NONE"))
    assert ds.spectra.dims == ("y", "x", "wavenumber")
    assert "spectra" not in xr.open_dataset(path, engine="kestrel", drop_variables="spectra")
    assert xr.open_dataset(path).attrs["block"] == "AB 3D NONE"  # found by its magic number alone


def test_collection_through_open_mfdataset(kind_file):
    pytest.importorskip("dask.array")
    paths = [kind_file("series")[0] for _ in range(3)]
    ds = xr.open_mfdataset(paths, engine="kestrel", combine="nested", concat_dim="file", parallel=True)
    eager = np.stack([kestrel.getOpusData(p, ("AB", "3D", "NONE")).spectra for p in paths])
    assert ds.spectra.dims == ("file", "time", "wavenumber") and np.array_equal(ds.spectra.values, eager)


def test_auto_block_is_the_map_and_bad_blocks_are_refused(kind_file):
    from kestrel_tools import DEMO_FILE
    assert open_dataset(DEMO_FILE).attrs["block"] == "AB 3D NONE"
    with pytest.raises(ValueError, match="triple"):
        open_dataset(DEMO_FILE, ("AB", "3D"))
    with pytest.raises(ValueError, match="auto"):
        open_dataset(DEMO_FILE, "AB 3D NONE")


@pytest.mark.parametrize("name, content, expected", [
    ("map.0", None, True), ("map.txt", None, True), ("not_opus.0", b"\x00" * 64, False),
    ("short.0", b"\x0a\x0a", False), ("missing.0", "absent", False)])
def test_guess_can_open_reads_the_magic_number(tmp_path, name, content, expected):
    path = tmp_path / name
    if content is None:
        path.write_bytes(image_map_file()[0])
    elif content != "absent":
        path.write_bytes(content)
    backend = KestrelBackendEntrypoint()
    assert backend.guess_can_open(str(path)) is expected and backend.guess_can_open(path) is expected
    assert backend.guess_can_open(str(tmp_path)) is False


def test_indexing_reads_only_the_window(kind_file):
    """isel of two positions asks for those two spectra's window, not the cube."""
    path, block = kind_file("image_map", npy=8, npx=8, npt=16)
    ds = open_dataset(path, block)
    _windows.reset_read_stats()
    part = ds.spectra.isel(y=3, x=[5, 2]).values
    stats = _windows.read_stats()
    assert stats["windows"] == 1 and stats["bytes"] == 1 * 4 * 16 * 4  # y 3, x 2..5, all points
    eager = kestrel.getOpusData(path, block).spectra
    assert np.array_equal(part, eager[3, [5, 2]])


@pytest.mark.parametrize("kind, chunks", [("image_map", {"y": 3, "x": 2}), ("multi_region", {"point": 4}),
                                          ("series", {"time": 2, "wavenumber": 4})])
def test_dask_chunks_each_read_their_own_window(kind_file, kind, chunks):
    pytest.importorskip("dask.array")
    path, block = kind_file(kind)
    ds = open_dataset(path, block, chunks=chunks)
    data = ds["spectra"].data
    _windows.reset_read_stats()
    values = data.compute(scheduler="synchronous")
    stats = _windows.read_stats()
    assert stats["windows"] == data.npartitions and stats["bytes"] == values.nbytes
    eager = to_xarray(kestrel.getOpusData(path, block), path=path)
    xr.testing.assert_identical(as_eager(ds["spectra"].load(), eager), eager)


def test_lazy_arrays_and_results_pickle(kind_file):
    pytest.importorskip("dask.array")
    path, block = kind_file("trace_map")
    ds = open_dataset(path, block)
    back = pickle.loads(pickle.dumps(ds))
    xr.testing.assert_identical(back.load(), ds.load())
    chunked = open_dataset(path, block, chunks={"y": 1})
    graph = pickle.loads(pickle.dumps(chunked.traces.data))
    assert np.array_equal(graph.compute(scheduler="synchronous"), chunked.traces.values)
    assert pickle.loads(pickle.dumps(to_xarray(kestrel.getOpusData(path, block)))).dims == ("y", "x", "trace")


def test_damaged_block_raises_the_eager_exception_naming_the_file(write):
    """A map cut short in its records fails like getOpusData, whenever the lazy read reaches it."""
    data, block = image_map_file(npy=4, npx=4, npt=8, params_first=True)
    path = write(data[:-300])
    with pytest.raises(Exception) as eager:
        kestrel.getOpusData(path, block)
    with pytest.raises(type(eager.value)) as lazy:
        ds = open_dataset(path, block, chunks={"y": 1})
        # the plan needs no record; the first rows read fine
        assert np.array_equal(ds.spectra[0].values, kestrel.getOpusData(write(data), block).spectra[0])
        ds.spectra.values
    assert str(lazy.value) == str(eager.value)
    assert any(path in note for note in lazy.value.__notes__)


NO_XARRAY = """
import sys
class Block:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] in ("xarray", "dask", "distributed"):
            raise ImportError("blocked: " + name)
sys.meta_path.insert(0, Block())
import kestrel_tools
from kestrel_tools.xarray_backend import KestrelBackendEntrypoint, to_xarray
assert "xarray" not in sys.modules and "dask" not in sys.modules
assert KestrelBackendEntrypoint.available is False
assert KestrelBackendEntrypoint().guess_can_open(str(kestrel_tools.DEMO_FILE))
try:
    kestrel_tools.open_dataset(kestrel_tools.DEMO_FILE)
except ImportError as error:
    assert "kestrel-opus[xarray]" in str(error), error
else:
    raise AssertionError("no ImportError")
print("ok")
"""


def test_package_works_without_xarray():
    """Without xarray the package imports, the engine says it is unavailable, and opening names the extra."""
    done = subprocess.run([sys.executable, "-c", NO_XARRAY], capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == "ok", done.stderr


def test_import_does_not_load_xarray():
    done = subprocess.run([sys.executable, "-c", "import sys, kestrel_tools; kestrel_tools.to_xarray; "
                           "print('xarray' in sys.modules)"], capture_output=True, text=True, timeout=60)
    assert done.stdout.strip() == "False", done.stderr


def test_not_an_opus_file_is_refused_naming_it(write):
    path = write(b"plain text, not a spectrum\n" * 4)
    with pytest.raises(ValueError) as info:
        open_dataset(path)
    assert any(path in note for note in info.value.__notes__)


@pytest.mark.parametrize("module", ["_layout", "_windows", "xarray_backend.labels", "xarray_backend.source",
                                    "xarray_backend.windowing", "xarray_backend.convert",
                                    "xarray_backend.dataset"])
def test_docstring_examples_run(module):
    import doctest
    import importlib
    failed, _ = doctest.testmod(importlib.import_module(f"kestrel_tools.{module}"))
    assert failed == 0
