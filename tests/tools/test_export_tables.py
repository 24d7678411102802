"""CSV, Parquet and netCDF writers, read back by independent readers: every result kind, values exact."""

import csv
import json

import numpy as np
import pytest

import kestrel
from kestrel_tools import DEMO_FILE, DEMO_REGIONS_FILE, model, write_csv, write_netcdf, write_parquet
from kestrel_tools.collection import Collection
from kestrel_tools.export.netcdf import dataset_of

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
xr = pytest.importorskip("xarray")

BASE = dict(dimension="3D", dataType="AB", deriv="NONE", parameters={"DXU": "WN", "ZTX": "s", "NPT": 3},
            x=np.array([3000.0, 2000.5, 1000.25]), minY=0.0, maxY=1.0)
# float32 values whose text forms are easy to get wrong
AWKWARD = np.array([0.1, 1 / 3, 16777217.0, 1e-38, 1.4e-45, -0.0, 3.4028235e38, -2.5e-7, np.nan],
                   dtype=np.float32)


def cube(*shape):
    return np.resize(AWKWARD, shape).astype(np.float32)


def region(title, n, width, times=True):
    return kestrel.Region(title, np.arange(n) * 1.5, np.arange(n) * -2.0, np.arange(n) * 10.0 if times else None,
                          cube(n, width))


def results():
    """One result of every kind (rows of the flat table, its key columns and its axis)."""
    labels = ["peak, 1", 'area "B"']
    yield "spectrum", kestrel.SingleDataReturn(y=cube(3), **{**BASE, "dimension": "2D"}), [], "wavenumber"
    yield "image_map", kestrel.ImageDataReturn(np.array([1.0, 2.0]), np.array([5.0, 4.0, 3.0]), cube(3, 2, 3),
                                               **BASE), ["x", "y"], "wavenumber"
    yield "trace_map", kestrel.ImageTRCDataReturn(np.array([1.0]), np.array([7.0, 8.0]), labels, cube(2, 1, 2),
                                                  **BASE), ["x", "y"], "trace"
    yield "series", kestrel.TimeResolvedDataReturn(np.array([0.0, 0.5]), cube(2, 3), **BASE), ["time"], "wavenumber"
    yield "trace_series", kestrel.TimeResolvedTRCDataReturn(labels, cube(2, 3), **BASE), ["time"], "trace"
    yield "multi_region", kestrel.MultiRegionDataReturn([region("Region 1 (2 x 1)", 2, 3), region("R2", 1, 3)],
                                                        **BASE), ["region", "x", "y", "start_time"], "wavenumber"
    yield "multi_region_trace", kestrel.MultiRegionTRCDataReturn(
        labels, [region("Region 1", 3, 2, times=False)], **BASE), ["region", "x", "y"], "trace"


def expected_rows(result):
    """The matrix a table of `result` must hold, row by row."""
    if hasattr(result, "y"):
        return result.y.reshape(1, -1)
    if hasattr(result, "regions"):
        return np.concatenate([r.spectra for r in result.regions])
    if isinstance(result, kestrel.TimeResolvedTRCDataReturn):
        return result.traces.T  # one row per time point
    data = result.traces if hasattr(result, "traces") else result.spectra
    return data.reshape(-1, data.shape[-1])


def axis_of(result, axis):
    return [str(s) for s in result.labels] if axis == "trace" else result.x


CASES = list(results())
IDS = [case[0] for case in CASES]


@pytest.mark.parametrize("kind, result, keys, axis", CASES, ids=IDS)
def test_wide_csv_reads_back_exactly(tmp_path, kind, result, keys, axis):
    """Wide CSV: key columns, a header of exact x values (or labels), float32 values that parse back bit for bit."""
    out = tmp_path / "t.csv"
    write_csv(result, out, layout="wide")
    with open(out, newline="", encoding="utf-8") as f:
        header, *rows = list(csv.reader(f))
    assert header[:len(keys)] == keys
    columns = header[len(keys):]
    if axis != "trace":
        np.testing.assert_array_equal(np.array(columns, dtype=np.float64), result.x)
    else:
        assert columns == axis_of(result, axis)
    values = np.array([row[len(keys):] for row in rows], dtype=np.float32)
    np.testing.assert_array_equal(values, expected_rows(result))
    if kind == "image_map":  # rows run along a map row: (mapX[0], mapY[0]), (mapX[1], mapY[0]), ...
        assert [(float(r[0]), float(r[1])) for r in rows[:3]] == [(1.0, 5.0), (2.0, 5.0), (1.0, 4.0)]
    if kind == "multi_region":
        assert [r[0] for r in rows] == ["Region 1 (2 x 1)"] * 2 + ["R2"]


@pytest.mark.parametrize("kind, result, keys, axis", CASES, ids=IDS)
def test_long_parquet_and_csv_agree_value_for_value(tmp_path, kind, result, keys, axis):
    """Long tables: one value per row with its keys and its x (or trace); Parquet holds float32 and float64."""
    write_parquet(result, tmp_path / "t.parquet", layout="long")
    write_csv(result, tmp_path / "t.csv", layout="long")
    table = pq.read_table(tmp_path / "t.parquet")
    assert table.column_names == keys + [axis, "value"]
    assert table.schema.field("value").type == pa.float32()
    rows = expected_rows(result)
    np.testing.assert_array_equal(table.column("value").to_numpy(), rows.reshape(-1))
    along = table.column(axis).to_pylist()
    assert along == list(np.tile(axis_of(result, axis), len(rows)))
    with open(tmp_path / "t.csv", newline="", encoding="utf-8") as f:
        text_rows = list(csv.reader(f))[1:]
    np.testing.assert_array_equal(np.array([r[-1] for r in text_rows], dtype=np.float32), rows.reshape(-1))
    described = json.loads(table.schema.metadata[b"kestrel"])
    assert described["kind"] == kind and "x" not in described  # the axis is a column, not metadata


def test_wide_parquet_of_a_map_is_one_row_per_spectrum_with_the_axis_stored_once(tmp_path):
    """pyarrow and pandas read a wide Parquet map back to the same values: a fixed-size list per
    position, the x axis in the first row of its own column."""
    pd = pytest.importorskip("pandas")
    m = kestrel.getOpusData(str(DEMO_FILE), ("AB", "3D", "NONE"))
    write_parquet(m, tmp_path / "m.parquet")
    table = pq.read_table(tmp_path / "m.parquet")
    assert table.column_names == ["x", "y", "wavenumber", "value"]
    assert table.schema.field("value").type == pa.list_(pa.float32(), len(m.x))
    assert table.schema.field("wavenumber").metadata[b"units"] == b"cm-1"
    assert table.column("wavenumber").null_count == len(m.mapX) * len(m.mapY) - 1
    np.testing.assert_array_equal(table.column("wavenumber")[0].values.to_numpy(), m.x)
    frame = pd.read_parquet(tmp_path / "m.parquet")
    np.testing.assert_array_equal(np.stack(frame["value"].to_numpy()), m.spectra.reshape(-1, len(m.x)))
    np.testing.assert_array_equal(frame["wavenumber"][0], m.x)


def test_collection_tables_quote_file_names(tmp_path):
    """A Collection's rows are keyed by file; names with commas and quotes survive CSV and Parquet."""
    files = ['a,b.0', 'say "hi".0']
    collection = Collection(x=np.array([2.0, 1.0]), spectra=cube(2, 2), files=files, blocks=[], failed=[], info=[])
    write_csv(collection, tmp_path / "c.csv")
    with open(tmp_path / "c.csv", newline="", encoding="utf-8") as f:
        header, *rows = list(csv.reader(f))
    assert header == [*model.KINDS["collection"].wide_keys, "2.0", "1.0"] and [r[0] for r in rows] == files
    write_parquet(collection, tmp_path / "c.parquet", layout="long")
    table = pq.read_table(tmp_path / "c.parquet")
    assert table.column("file").to_pylist() == [files[0]] * 2 + [files[1]] * 2


def test_parquet_takes_a_dataframe(tmp_path):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"x": [1.0, 2.0], "value": np.array([0.5, 0.25], np.float32)})
    write_parquet(frame, tmp_path / "f.parquet")
    assert pq.read_table(tmp_path / "f.parquet").to_pandas().equals(frame)


@pytest.mark.parametrize("kind, result, keys, axis", CASES, ids=IDS)
def test_netcdf_keeps_values_coordinates_and_parameters(tmp_path, kind, result, keys, axis):
    """netCDF read back by xarray equals the labelled array of the result: data, every coordinate, parameters."""
    write_netcdf(result, tmp_path / "r.nc")
    expected = dataset_of(result)
    with xr.open_dataset(tmp_path / "r.nc") as ds:
        xr.testing.assert_equal(ds.load(), expected)
        (name,) = list(ds.data_vars)
        values = ds[name].values
        assert values.dtype == np.float32
        np.testing.assert_array_equal(values.reshape(-1, values.shape[-1]) if values.ndim > 1
                                      else values.reshape(1, -1), expected_rows(result))
        if kind not in ("trace_map", "multi_region_trace"):  # their x is no axis of the array
            spectral = [c for c in ds.coords if ds[c].ndim == 1 and np.array_equal(ds[c].values, result.x)]
            assert spectral, "no coordinate holds the x axis"
        for key, value in result.parameters.items():
            assert any(str(v) == str(value) for k, v in ds.attrs.items() if key in k)


def test_netcdf_of_a_collection_and_the_demo_regions(tmp_path):
    collection = Collection(x=np.array([2.0, 1.0]), spectra=cube(2, 2), files=["a.0", "b.0"], blocks=[], failed=[],
                            info=[])
    write_netcdf(collection, tmp_path / "c.nc")
    with xr.open_dataset(tmp_path / "c.nc") as ds:
        (name,) = list(ds.data_vars)
        np.testing.assert_array_equal(ds[name].values, collection.spectra)
        assert ["a.0", "b.0"] in [[str(v) for v in ds[c].values] for c in ds.coords]
    g = kestrel.getOpusData(str(DEMO_REGIONS_FILE), ("AB", "3D", "NONE"))
    write_netcdf(g, tmp_path / "g.nc")
    with xr.open_dataset(tmp_path / "g.nc") as ds:
        (name,) = list(ds.data_vars)
        np.testing.assert_array_equal(ds[name].values, np.concatenate([r.spectra for r in g.regions]))
        xs = np.concatenate([r.mapX for r in g.regions])
        assert any(np.array_equal(ds[c].values, xs) for c in ds.coords)


def test_a_failed_write_leaves_the_old_file(tmp_path, monkeypatch):
    """Outputs appear whole: a writer that fails half-way keeps the file that was there."""
    import kestrel_tools.export.csv as csv_module
    out = tmp_path / "keep.csv"
    out.write_text("old")

    def broken(table):
        yield "x,value\n"
        raise RuntimeError("disk gone")

    monkeypatch.setattr(csv_module, "_long_lines", broken)
    with pytest.raises(RuntimeError):
        write_csv(CASES[0][1], out)
    assert out.read_text() == "old" and [p.name for p in tmp_path.iterdir()] == ["keep.csv"]


@pytest.mark.parametrize("convert", ["to_pandas", "to_xarray", "write_csv"])
def test_subclasses_of_results_count_as_their_base_and_other_objects_are_refused(tmp_path, convert):
    import kestrel_tools
    call = getattr(kestrel_tools, convert)
    args = (tmp_path / "s.csv",) if convert == "write_csv" else ()

    class Spectrum(kestrel.SingleDataReturn):
        pass

    call(Spectrum(y=cube(3), **{**BASE, "dimension": "2D"}), *args)
    with pytest.raises(TypeError):
        call(np.zeros(3), *args)


SAMPLES = __import__("pathlib").Path(__file__).resolve().parents[3] / "shared" / "opus-samples"


@pytest.mark.skipif(not SAMPLES.is_dir(), reason="no sample files")
@pytest.mark.parametrize("name, block", [("pictures/peach_juice.0", ("REFL", "2D", "NONE")),
                                         ("opusreader2/issue82_Opus_test.0", ("AB", "2D", "NONE")),
                                         ("ramanchada2/test_opus.0", ("RAM", "2D", "NONE"))])
@pytest.mark.parametrize("layout", ["long", "wide"])
def test_a_real_spectrum_in_parquet_is_no_larger_than_its_csv(tmp_path, name, block, layout):
    r = kestrel.getOpusData(str(SAMPLES / name), block)
    write_csv(r, tmp_path / "s.csv")
    write_parquet(r, tmp_path / "s.parquet", layout=layout)
    assert (tmp_path / "s.parquet").stat().st_size <= (tmp_path / "s.csv").stat().st_size
    table = pq.read_table(tmp_path / "s.parquet")
    values = table.column("value").combine_chunks()
    np.testing.assert_array_equal(np.asarray(values.flatten() if layout == "wide" else values), r.y)


EMPTY = [
    kestrel.SingleDataReturn(y=np.zeros(0, np.float32), **{**BASE, "dimension": "2D", "x": np.zeros(0)}),
    kestrel.MultiRegionDataReturn([], **BASE),
    kestrel.MultiRegionTRCDataReturn([], [region("a", 2, 0, times=False)], **BASE),
    kestrel.ImageTRCDataReturn(np.array([1.0]), np.array([2.0]), [], np.zeros((1, 1, 0), np.float32), **BASE),
]


@pytest.mark.parametrize("result", EMPTY, ids=["no points", "no regions", "no traces", "map of no traces"])
def test_results_without_values_write_in_every_layout(tmp_path, result):
    """No rows or no columns: each writer still makes a file that reads back with the right columns."""
    for layout in ("wide", "long"):
        write_parquet(result, tmp_path / "e.parquet", layout=layout)
        write_csv(result, tmp_path / "e.csv", layout=layout)
        assert pq.read_table(tmp_path / "e.parquet").column_names[-1] == "value"
    write_netcdf(result, tmp_path / "e.nc")
