"""to_pandas of every result kind, the progress helper, and `kestrel collect`."""

import io

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kestrel
from kestrel_tools import DEMO_FILE, DEMO_REGIONS_FILE, model, to_pandas
from kestrel_tools import progress as progress_module
from kestrel_tools.cli.__main__ import main as kestrel_main
from kestrel_tools.progress import Progress
from opusfile import data3d, image_map, opus, spectrum
from test_get_opus_data_3d import region_blocks

rng = np.random.default_rng(3)


def read(path, block):
    return kestrel.getOpusData(str(path), block)


def test_every_result_kind(write):
    """Coordinates per spectrum, one column per point (or trace), values by reshape; views where possible."""
    single = read(DEMO_FILE, ("AB", "2D", "NONE"))
    frame = to_pandas(single)
    assert list(frame.columns) == ["wavenumber", "value"] and np.array_equal(frame["value"], single.y)

    image = read(DEMO_FILE, ("AB", "3D", "NONE"))
    frame = to_pandas(image)
    rows, cols, n = image.spectra.shape
    assert frame.shape == (rows * cols, 2 + n) and list(frame.columns[2:]) == image.x.tolist()
    r, c = 3, 4  # spectrum of map row 3, column 4
    assert frame.loc[r * cols + c, "x"] == image.mapX[c] and frame.loc[r * cols + c, "y"] == image.mapY[r]
    assert np.array_equal(frame.iloc[r * cols + c, 2:].to_numpy(float), image.spectra[r, c])
    assert np.shares_memory(frame[image.x[0]].to_numpy(), image.spectra)

    series = read(DEMO_FILE, ("TR", "3D", "NONE"))
    frame = to_pandas(series)
    assert np.array_equal(frame["time"], series.z) and np.shares_memory(frame[series.x[5]].to_numpy(), series.spectra)

    regions = read(DEMO_REGIONS_FILE, ("AB", "3D", "NONE"))
    frame = to_pandas(regions)
    stacked = np.concatenate([g.spectra for g in regions.regions])
    assert np.array_equal(frame.iloc[:, 4:].to_numpy(np.float32), stacked)
    assert frame["start_time"].tolist() == [t for g in regions.regions for t in g.start_time]
    assert frame["region"].tolist() == [g.title for g in regions.regions for _ in g.start_time]

    cube = rng.normal(size=(2, 3, 2)).astype(np.float32)
    traces = read(write(opus(data3d("TRC", [cube[:, :, k].ravel().tolist() for k in range(2)], labels=["p", "q"],
                                    AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=3, NPY=2))), ("TRC", "3D", "NONE"))
    frame = to_pandas(traces)
    assert list(frame.columns) == ["x", "y", "p", "q"] and np.array_equal(frame["q"], cube[:, :, 1].ravel())

    t = rng.normal(size=(2, 5)).astype(np.float32)
    series_traces = read(write(opus(data3d("TRC", t.tolist(), labels=["a", "b"], DXU="MIN"))), ("TRC", "3D", "NONE"))
    frame = to_pandas(series_traces)
    assert list(frame.columns) == ["time", "a", "b"] and np.array_equal(frame["b"], t[1])
    assert np.shares_memory(frame["a"].to_numpy(), series_traces.traces)

    records, _, blocks = region_blocks("TRC", npt=4)
    region_traces = read(write(opus(blocks)), ("TRC", "3D", "NONE"))
    frame = to_pandas(region_traces)
    assert list(frame.columns) == ["region", "x", "y", "trace 0", "trace 1"] and len(frame) == 6

    with pytest.raises(TypeError, match="not list"):
        to_pandas([1, 2])


def test_progress_forms(monkeypatch):
    """A callable sees every step; True without tqdm draws a counter line; False shows nothing."""
    seen = []
    with Progress(lambda done, total: seen.append(done), total=3) as bar:
        bar.advance(2)
        bar.advance(0)
        bar.advance(1)
    assert seen == [0, 2, 3]
    monkeypatch.setattr(progress_module.importlib.util, "find_spec", lambda name: None)
    out = io.StringIO()
    with Progress(True, total=2, label="reading", stream=out) as bar:
        bar.advance(2)
    assert out.getvalue().endswith("\rreading: 2/2 (100%)\n")
    quiet = io.StringIO()
    with Progress(False, total=2, stream=quiet) as bar:
        bar.advance(2)
    assert quiet.getvalue() == ""


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
@pytest.mark.parametrize("suffix", [".csv", ".parquet", ".nc"])
def test_collect_command(tmp_path, capsys, suffix):
    """One row per readable file in each format; failures on stderr and status 1; usage errors 2."""
    values = rng.normal(size=(2, 4)).astype(np.float32)
    for i, row in enumerate(values):
        (tmp_path / f"s{i}.0").write_bytes(opus(spectrum("AB", row.tolist(), FXV=10.0, LXV=7.0)))
    (tmp_path / "out").mkdir()
    out = tmp_path / "out" / f"table{suffix}"
    assert kestrel_main(["collect", str(tmp_path / "s*.0"), "--out", str(out), "--no-progress"]) == 0
    if suffix == ".nc":
        with xr.open_dataarray(out, engine="h5netcdf") as array:
            assert array.dims == ("file", "wavenumber") and np.array_equal(array.values, values)
    else:
        frame = pd.read_csv(out) if suffix == ".csv" else pd.read_parquet(out)
        assert frame["file"].tolist() == [str(tmp_path / "s0.0"), str(tmp_path / "s1.0")]
        keys = len(model.KINDS["collection"].wide_keys)
        matrix = frame.iloc[:, keys:].to_numpy(np.float32) if suffix == ".csv" else np.stack(frame["value"])
        assert np.array_equal(matrix, values)
    (tmp_path / "broken.0").write_bytes(b"\x0a\x0a\xfe\xfe")
    capsys.readouterr()
    assert kestrel_main(["collect", str(tmp_path), "--out", str(out), "--force"]) == 1
    err = capsys.readouterr().err
    assert f"{tmp_path / 'broken.0'}: the file is cut short: it ends at byte 4, inside its header" in err
    assert "3/3" in err  # the progress bar
    for argv in (["collect", str(tmp_path), "--out", "x.txt"], ["collect", str(tmp_path)],
                 ["collect", str(tmp_path), "--out", str(out), "--block", "XY", "2D", "NONE"]):
        assert kestrel_main(argv) == 2


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
@pytest.mark.parametrize("name", ["metadata", "model", "progress", "collection", "tables", "sources", "_flat",
                                  "_collection_choice", "export._text", "cli.info"])
def test_docstring_examples(name):
    """The examples in the docstrings run as written."""
    import doctest
    import importlib

    module = importlib.import_module(f"kestrel_tools.{name}")
    assert doctest.testmod(module, optionflags=doctest.ELLIPSIS).failed == 0
