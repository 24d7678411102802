"""A cluster of two worker processes (loopback only) computes the mean spectrum of a map that nginx serves,
through open_dataset with chunks and through byte-range references read by the zarr engine; each equals the
eager read of the local file."""

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
pytest.importorskip("fsspec")
pytest.importorskip("aiohttp")
pytest.importorskip("zarr", minversion="3.4")  # older zarr reads reference groups as empty

from kestrel_tools import open_dataset  # noqa: E402
from kestrel_tools.references import reader_options, references  # noqa: E402

BLOCK = ("AB", "3D", "NONE")


@pytest.fixture(scope="module")
def served_map(served):
    (served.root / "map.0").write_bytes(image_map_file(npy=12, npx=10, npt=64)[0])
    return served, f"{served.base}/map.0", str(served.root / "map.0")


@pytest.mark.parametrize("route", ["open_dataset", "references"])
def test_mean_spectrum_over_http_on_the_cluster(route, served_map, client):
    server, url, local = served_map
    if route == "open_dataset":
        spectra = open_dataset(url, BLOCK, chunks={"y": 4, "x": 5}).spectra
    else:
        refs = references(url)
        spectra = xr.open_dataset("reference://", engine="zarr", group="AB_3D_NONE", chunks={"y": 4, "x": 5},
                                  backend_kwargs={"storage_options": reader_options(refs), "consolidated": False}).spectra
    server.reset()
    mean, cube = client.compute([spectra.mean(("y", "x")).data, spectra.data], sync=True)
    eager = kestrel.getOpusData(local, BLOCK).spectra
    assert np.array_equal(cube, eager)
    assert np.allclose(mean, eager.mean(axis=(0, 1), dtype=np.float64), rtol=1e-5, atol=1e-6)  # float32 sums
    assert server.sent() >= eager.nbytes  # the workers read it over HTTP
