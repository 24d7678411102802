"""dask.distributed: a cluster of two worker processes (started here, loopback only) reads a collection
with open_mfdataset and a map through chunks, gets what the eager read gets, and asks for no byte more
than its chunks hold; a damaged file's error comes back from the worker naming the file."""

import os

import numpy as np
import pytest

import kestrel
from kind_files import image_map_file

if os.environ.get("KESTREL_SANITIZED"):
    pytest.skip("worker processes would each need the sanitizer runtime preloaded", allow_module_level=True)
xr = pytest.importorskip("xarray")
pytest.importorskip("distributed")
pytest.importorskip("dask.array")

from kestrel_tools import _windows, open_dataset  # noqa: E402

BLOCK = ("AB", "3D", "NONE")


def worker_bytes(client):
    return {worker: stats["bytes"] for worker, stats in client.run(_windows.read_stats).items()}


def test_collection_read_on_the_cluster(client, tmp_path):
    paths = []
    for k in range(4):
        path = tmp_path / f"map{k}.0"
        path.write_bytes(image_map_file(npy=3, npx=4, npt=10)[0])
        paths.append(str(path))
    client.run(_windows.reset_read_stats)
    ds = xr.open_mfdataset(paths, engine="kestrel", combine="nested", concat_dim="file", parallel=True)
    values = ds.spectra.values
    eager = np.stack([kestrel.getOpusData(p, BLOCK).spectra for p in paths])
    assert ds.spectra.dims == ("file", "y", "x", "wavenumber") and np.array_equal(values, eager)
    assert sum(worker_bytes(client).values()) == eager.nbytes


def test_map_through_chunks_reads_each_chunk_once(client, tmp_path):
    path = tmp_path / "big.0"
    path.write_bytes(image_map_file(npy=16, npx=12, npt=40)[0])
    ds = open_dataset(path, BLOCK, chunks={"y": 4, "x": 4})
    client.run(_windows.reset_read_stats)
    mean = ds.spectra.mean(("y", "x")).values
    cube = ds.spectra.values
    eager = kestrel.getOpusData(str(path), BLOCK).spectra
    assert np.array_equal(cube, eager) and np.allclose(mean, eager.mean(axis=(0, 1)), rtol=1e-5)
    stats = client.run(_windows.read_stats).values()
    # two passes over the cube (the mean, then the values): every chunk's window twice, nothing more
    assert sum(s["windows"] for s in stats) == 2 * ds.spectra.data.npartitions
    assert sum(s["bytes"] for s in stats) == 2 * eager.nbytes


def test_damaged_file_fails_on_the_worker_naming_it(client, tmp_path):
    good, bad = tmp_path / "good.0", tmp_path / "bad.0"
    data = image_map_file(npy=4, npx=4, npt=8, params_first=True)[0]
    good.write_bytes(data)
    bad.write_bytes(data[:-300])
    with pytest.raises(Exception) as eager:
        kestrel.getOpusData(str(bad), BLOCK)
    with pytest.raises(type(eager.value)) as lazy:
        xr.open_mfdataset([good, bad], engine="kestrel", combine="nested", concat_dim="file",
                          parallel=True).spectra.values
    assert str(lazy.value) == str(eager.value) and any(str(bad) in n for n in lazy.value.__notes__)
