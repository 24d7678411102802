"""One result of each kind through every output: the names, units and values agree with the data model
and with each other (pandas wide and long, CSV wide and long, Parquet wide and long, to_xarray, netCDF,
open_dataset, JCAMP-DX, file_info, kestrel info)."""

import csv
import json

import numpy as np
import pytest

import kestrel
from kind_files import KINDS, spectrum_file

pd = pytest.importorskip("pandas")
pq = pytest.importorskip("pyarrow.parquet")
xr = pytest.importorskip("xarray")
pytest.importorskip("h5netcdf")

from kestrel_tools import (file_info, model, open_dataset, read_collection, to_pandas, to_xarray,  # noqa: E402
                           write_csv, write_jcamp, write_netcdf, write_parquet)


@pytest.fixture(params=[*KINDS, "collection"])
def case(request, kind_file, write):
    """(kind, the result or Collection, its file and block, the model's layout)."""
    kind = request.param
    if kind == "collection":
        paths = [write(spectrum_file()[0]) for _ in range(3)]
        data = read_collection(paths)
        return kind, data, None, model.layout_of(kind, {"DXU": "WN"}, "AB")
    path, block = kind_file(kind)
    result = kestrel.getOpusData(path, block)
    return kind, result, (path, block), model.layout_of(kind, result.parameters, result.dataType)


def rows_of_array(array, layout):
    """An xarray DataArray as (key columns, axis, matrix) in the flat table's row order."""
    array = array.transpose(*layout.dims)
    along = layout.along
    matrix = array.values.reshape(-1, array.sizes[along])
    first = array.isel({along: 0}, drop=True)
    keys = {k: array[k].broadcast_like(first).transpose(*first.dims).values.reshape(-1) for k in layout.wide_keys}
    return keys, array[along].values, matrix


def normal(values, kind):
    """A key column as comparable Python values, whoever wrote it; None where missing
    (CSV writes it empty, netCDF text as "")."""
    series = pd.Series([None if v is None or v == "" or v is pd.NA or v != v else v for v in values], dtype=object)
    if kind == "time":  # as a reader without options parses it, one format per column
        return [None if pd.isna(v) else v for v in pd.to_datetime(series, utc=True)]
    if kind == "text":
        return [None if v is None else str(v) for v in series]
    numbers = [np.nan if v is None else float(v) for v in series]
    return [None if np.isnan(v) else v for v in numbers]


def assert_same(reference, other, what, layout):
    keys, axis, matrix = reference
    other_keys, other_axis, other_matrix = other
    assert list(other_keys) == list(keys), what
    for name in keys:
        kind = layout.coords[name].type
        assert normal(other_keys[name], kind) == normal(keys[name], kind), f"{what}: {name}"
    assert [str(a) for a in other_axis] == [str(a) for a in axis], what
    np.testing.assert_array_equal(np.asarray(other_matrix, np.float32), matrix, err_msg=what)


def units_of(variables):
    return {name: variables[name].attrs.get("units") for name in variables}


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_every_output_agrees_with_the_model(case, tmp_path):
    kind, data, source, layout = case
    keys = list(layout.wide_keys)
    along = layout.along
    expected_units = {name: axis.unit for name, axis in layout.coords.items()}

    # pandas, wide: the reference every other output is compared with.
    wide = to_pandas(data, "wide") if kind != "collection" else data.to_pandas("wide")
    nkeys = len(wide.columns) - (len(data.x) if along != "trace" else len(data.labels))
    key_columns = list(wide.columns[:nkeys])
    assert key_columns[:len(keys)] == keys
    reference = ({k: wide[k].to_numpy() for k in keys}, list(wide.columns[nkeys:]),
                 wide.iloc[:, nkeys:].to_numpy(np.float32))
    long = to_pandas(data, "long") if kind != "collection" else data.to_pandas("long")
    assert [c for c in long.columns if c in layout.long_columns] == list(layout.long_columns)
    np.testing.assert_array_equal(long["value"].to_numpy(np.float32), reference[2].reshape(-1))

    # CSV, wide and long: the same names, numbers that read back to the same values.
    write_csv(data, tmp_path / "w.csv", layout="wide")
    with open(tmp_path / "w.csv", newline="", encoding="utf-8") as f:
        header, *rows = list(csv.reader(f))
    table = np.array(rows, dtype=object).reshape(len(rows), len(header))
    assert_same(reference, ({k: table[:, i] for i, k in enumerate(keys)},
                            [str(float(h)) if along != "trace" else h for h in header[len(keys):]],
                            table[:, len(keys):].astype(np.float32)), "CSV wide", layout)
    write_csv(data, tmp_path / "l.csv", layout="long")
    with open(tmp_path / "l.csv", newline="", encoding="utf-8") as f:
        assert next(csv.reader(f)) == list(layout.long_columns)

    # Parquet, wide and long, read back by pyarrow; units in the field metadata.
    write_parquet(data, tmp_path / "w.parquet", layout="wide")
    arrow = pq.read_table(tmp_path / "w.parquet")
    assert arrow.column_names == [*keys, along, "value"]
    matrix = np.asarray(arrow.column("value").combine_chunks().flatten()).reshape(arrow.num_rows, -1)
    if arrow.num_rows:
        assert_same(reference, ({k: arrow.column(k).to_numpy(zero_copy_only=False) for k in keys},
                                arrow.column(along)[0].as_py(), matrix), "Parquet wide", layout)
    for name in [*keys, along]:
        meta = arrow.schema.field(name).metadata or {}
        assert meta.get(b"units", b"").decode() == (expected_units.get(name) or ""), name
    write_parquet(data, tmp_path / "l.parquet", layout="long")
    assert pq.read_table(tmp_path / "l.parquet").column_names == list(layout.long_columns)

    # xarray, netCDF and the lazy engine: the model's dims and coordinates, with units.
    array = data.to_xarray() if kind == "collection" else to_xarray(data)
    assert array.dims == layout.dims and array.name == layout.variable
    assert array.attrs["y_kind"] == layout.value.name
    assert_same(reference, rows_of_array(array, layout), "xarray", layout)
    assert {n: u for n, u in units_of(array.coords).items() if n in expected_units} == expected_units
    write_netcdf(data, tmp_path / "r.nc")
    with xr.open_dataset(tmp_path / "r.nc") as stored:
        back = stored[layout.variable].load()
    assert back.dims == layout.dims
    assert_same(reference, rows_of_array(back, layout), "netCDF", layout)
    assert {n: u for n, u in units_of(back.coords).items() if n in expected_units} == expected_units
    if source is None:
        return
    path, block = source
    with open_dataset(path, block) as lazy:
        lazy_array = lazy[layout.variable]
        # A window picked out of order along every dimension reads what the eager array holds there.
        window = {d: [n - 1, 0] for d, n in lazy_array.sizes.items() if n}
        np.testing.assert_array_equal(lazy_array.isel(window).values, array.isel(window).values)
        assert_same(reference, rows_of_array(lazy_array.load(), layout), "open_dataset", layout)

    # Metadata, kestrel info and JCAMP-DX name the x unit and the values as the model does.
    info = file_info(path, block)
    assert (info.x_unit, info.y_kind) == (layout.x.unit, layout.value.name)
    from kestrel_tools.cli.info import file_summary

    summary = json.loads(json.dumps(file_summary(path)))
    entry = next(b for b in summary["blocks"] if tuple(b["block"]) == tuple(block))
    assert entry["x"]["unit"] == layout.x.unit
    if kind == "spectrum":
        write_jcamp(data, tmp_path / "s.jdx")
        assert f"##XUNITS={layout.x.jcamp}" in (tmp_path / "s.jdx").read_text().splitlines()
