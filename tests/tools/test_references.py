"""Byte-range references: xarray's zarr engine and plain zarr read through them exactly what getOpusData
returns, for every kind that stores plain float32 runs; the rest is listed as skipped with its reason."""

import json

import numpy as np
import pytest

import kestrel
from kind_files import BUILDERS, image_map_file
from opusfile import image_map, opus

xr = pytest.importorskip("xarray")
zarr = pytest.importorskip("zarr", minversion="3.4")  # older zarr reads reference groups as empty
pytest.importorskip("fsspec")

from kestrel_tools import _layout, open_dataset  # noqa: E402
from kestrel_tools.references import combine_references, group_name, reader_options, references  # noqa: E402


def open_refs(refs, block):
    return xr.open_dataset("reference://", engine="zarr", group=group_name(block),
                           backend_kwargs={"storage_options": reader_options(refs), "consolidated": False})


def eager(path, block):
    return _layout.plan_of_result(kestrel.getOpusData(path, block))[1]


CASES = [("spectrum", {}), ("image_map", {}), ("image_map", {"transposed": True}), ("trace_map", {}),
         ("series", {}), ("trace_series", {}), ("multi_region", {})]


@pytest.mark.parametrize("kind,kw", CASES, ids=[k + ("_transposed" if kw else "") for k, kw in CASES])
def test_zarr_readers_read_what_getopusdata_returns(kind, kw, write):
    """Every referenceable kind: same values, and the coordinates and names of open_dataset."""
    data, block = BUILDERS[kind](**kw)
    path = write(data)
    refs = json.loads(json.dumps(references(path, blocks=[block])))  # what a file on disk holds
    ds = open_refs(refs, block)
    lazy = open_dataset(path, block)
    name = next(iter(lazy.data_vars))
    values = ds[name].transpose(*lazy[name].dims).values
    # the labelled array shows getOpusData's values (a trace series time-first)
    assert values.dtype == np.float32 and np.array_equal(values, lazy[name].values)
    assert np.array_equal(np.sort(values, axis=None), np.sort(eager(path, block), axis=None))
    for coord in set(lazy.coords) - {"file"}:  # the file a lazy Dataset names is the referenced file itself
        assert np.array_equal(ds[coord].values, lazy[coord].values), coord
    group = zarr.open_group("reference://", mode="r", storage_options={"fo": refs}, zarr_format=2)
    assert np.array_equal(np.asarray(group[f"{group_name(block)}/{name}"][...]), np.asarray(ds[name].values))


def test_back_to_back_spectra_are_one_chunk_per_map_row(write):
    """A map without info areas between its spectra is referenced a row of the map at a time."""
    cube = np.arange(3 * 4 * 5, dtype=np.float32).reshape(3, 4, 5)
    path = write(opus(image_map("AB", cube.tolist(), info_size=0)))
    refs = references(path)["refs"]
    chunks = [k for k in refs if k.startswith("AB_3D_NONE/spectra/") and "/." not in k]
    assert sorted(chunks) == [f"AB_3D_NONE/spectra/{r}.0.0" for r in range(3)]
    assert np.array_equal(open_refs(references(path), ("AB", "3D", "NONE")).spectra.values, cube)


def test_unreferenceable_blocks_are_skipped_with_the_reason(write):
    """Traces gathered point by point, and a map the file cuts short, are listed, not referenced wrongly."""
    data, block = BUILDERS["multi_region_trace"]()
    top = json.loads(references(write(data))["refs"][".zattrs"])
    assert group_name(block) not in top["groups"]
    assert top["skipped"][0]["block"] == " ".join(block) and "reordering" in top["skipped"][0]["reason"]
    whole, block = image_map_file(params_first=True)
    runs = references(whole, url="x")["refs"]
    last = max(v[1] for k, v in runs.items() if k.startswith("AB_3D_NONE/spectra/") and "/." not in k)
    top = json.loads(references(write(whole[:last + 10]))["refs"][".zattrs"])  # inside the last spectrum
    assert top["groups"] == [] and top["skipped"][0]["block"] == " ".join(block)


def test_sources_that_are_not_paths_need_a_url(write):
    data, block = image_map_file()
    with pytest.raises(ValueError, match="url="):
        references(data)
    refs = references(data, url=write(data))
    assert np.array_equal(open_refs(refs, block).spectra.values, eager(write(data), block))
    with pytest.raises(KeyError, match="no block"):
        references(data, url="x", blocks=[("AB", "2D", "NONE")])


def test_combined_references_stack_files_along_a_file_dimension(write):
    """Several maps of one grid read as one array (file, y, x, wavenumber); a different axis is refused."""
    paths = [write(image_map_file(npy=2, npx=3, npt=4)[0]) for _ in range(3)]
    block = ("AB", "3D", "NONE")
    combined = combine_references([references(p) for p in paths])
    ds = open_refs(combined, block)
    assert ds.spectra.dims == ("file", "y", "x", "wavenumber")
    assert np.array_equal(ds.spectra.values, np.stack([eager(p, block) for p in paths]))
    assert list(ds.file.values) == [str(p) for p in paths]
    other = write(image_map_file(npy=2, npx=3, npt=5)[0])
    with pytest.raises(ValueError, match=other):
        combine_references([references(paths[0]), references(other)])


def test_refs_command_writes_references_and_reports_skipped_blocks(write, tmp_path, capsys):
    from kestrel_tools.cli.__main__ import main

    good = write(image_map_file()[0], "map.0")
    traces = write(BUILDERS["multi_region_trace"]()[0], "traces.0")
    out = tmp_path / "refs.json"
    assert main(["refs", good, "--url", "https://example.org/data/", "--out", str(out)]) == 0
    refs = json.loads(out.read_text())
    assert refs["refs"]["AB_3D_NONE/spectra/0.0.0"][0] == "https://example.org/data/map.0"
    assert main(["refs", traces, "--out", str(out), "--force"]) == 1
    assert "block TRC 3D NONE skipped" in capsys.readouterr().err
