"""A Collection's rows keep their file, block and metadata through pandas, CSV, Parquet and netCDF, wide and
long: the data model's names in its order, numbers as numbers, times in UTC, a field no file fills still a
column."""

from datetime import datetime, timezone

import numpy as np
import pytest

from kestrel_tools import model, read_collection, write_csv, write_netcdf, write_parquet
from opusfile import ACQUISITION, INSTRUMENT, SAMPLE, opus, params, spectrum

pd = pytest.importorskip("pandas")
pa = pytest.importorskip("pyarrow")
xr = pytest.importorskip("xarray")
pytest.importorskip("h5netcdf")
from test_one_model import normal  # noqa: E402

LAYOUT = model.layout_of("collection", {"DXU": "WN"}, "AB")
KEYS = LAYOUT.wide_keys
ROWS = np.arange(12, dtype=np.float32).reshape(3, 4) / 7


@pytest.fixture(scope="module")
def rows(tmp_path_factory):
    """Three files, the last saying nothing about its measurement; no file names its operator."""
    folder = tmp_path_factory.mktemp("rows")
    told = [dict(DAT="09/12/2026", TIM="10:31:19.250 (GMT+1)"), dict(DAT="09/12/2026", TIM="23:59:59 (GMT-4)"), {}]
    extra = [[params(kind=SAMPLE, SNM="film, cured", SFM="film"), params(kind=ACQUISITION, NSS=32, RES=4.0),
              params(kind=INSTRUMENT, INS="bench")],
             [params(kind=SAMPLE, SNM='say "hi"'), params(kind=ACQUISITION, NSS=64, RES=0.5)], []]
    paths = []
    for i in range(3):
        path = folder / f"{i}.0"
        path.write_bytes(opus(spectrum("AB", ROWS[i].tolist(), FXV=4000.0, LXV=1000.0, **told[i]), *extra[i]))
        paths.append(str(path))
    expected = {
        "file": paths, "block": ["AB 2D NONE"] * 3,
        "acquired": [datetime(2026, 12, 9, 9, 31, 19, 250000, timezone.utc), datetime(2026, 12, 10, 3, 59, 59,
                                                                                      tzinfo=timezone.utc), None],
        "acquired_from": ["DAT/TIM", "DAT/TIM", None], "sample_name": ["film, cured", 'say "hi"', None],
        "sample_form": ["film", None, None], "operator": [None] * 3, "instrument": ["bench", None, None],
        "resolution": [4.0, 0.5, None], "scans": [32, 64, None], "x_unit": ["cm-1"] * 3, "y_kind": ["absorbance"] * 3,
    }
    return paths, expected


def read_back(collection, output, layout, path):
    """(key columns, matrix of values) of the collection as `output` writes it and its usual reader reads it."""
    width = collection.x.size
    if output == "netcdf":
        write_netcdf(collection, path)
        with xr.open_dataset(path) as ds:
            ds.load()
        assert [str(ds[k].dtype)[:10] for k in ("resolution", "acquired")] == ["float64", "datetime64"]
        return {k: ds[k].values for k in KEYS}, ds["spectra"].values
    if output == "pandas":
        frame = collection.to_pandas(layout)
    else:
        (write_csv if output == "csv" else write_parquet)(collection, path, layout=layout)
        frame = pd.read_csv(path) if output == "csv" else pd.read_parquet(path)
    assert list(frame.columns[:len(KEYS)]) == list(KEYS)
    if layout == "long":
        assert list(frame.columns[len(KEYS):]) == ["wavenumber", "value"]
        return {k: frame[k].to_numpy()[::width] for k in KEYS}, frame["value"].to_numpy().reshape(-1, width)
    if output == "parquet":
        return {k: frame[k].to_numpy() for k in KEYS}, np.stack(frame["value"])
    return {k: frame[k].to_numpy() for k in KEYS}, frame.iloc[:, len(KEYS):].to_numpy(np.float32)


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
@pytest.mark.parametrize("output, layout", [("pandas", "wide"), ("pandas", "long"), ("csv", "wide"),
                                            ("csv", "long"), ("parquet", "wide"), ("parquet", "long"),
                                            ("netcdf", None)])
def test_every_row_keeps_its_file_block_and_metadata(rows, tmp_path, output, layout):
    paths, expected = rows
    collection = read_collection(paths)
    keys, matrix = read_back(collection, output, layout, tmp_path / "table")
    for name in KEYS:
        kind = LAYOUT.coords[name].type
        assert normal(keys[name], kind) == normal(expected[name], kind), name
    np.testing.assert_array_equal(np.asarray(matrix, np.float32), ROWS)


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_parquet_types_follow_the_model_even_for_an_empty_column(rows, tmp_path):
    write_parquet(read_collection(rows[0]), tmp_path / "t.parquet")
    schema = pa.parquet.read_schema(tmp_path / "t.parquet")
    assert (schema.field("acquired").type, schema.field("scans").type, schema.field("operator").type,
            schema.field("resolution").type) == (pa.timestamp("us", tz="UTC"), pa.int64(), pa.string(), pa.float64())
    assert schema.field("resolution").metadata[b"units"] == b"cm-1"


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_a_buffer_is_named_not_spelled_out(rows):
    data = open(rows[0][0], "rb").read()
    assert read_collection([data]).to_pandas()["file"].tolist() == [f"<bytes of {len(data)} bytes>"]
