"""to_xarray: every result kind becomes a DataArray with the dimensions, coordinates and attributes a
hyperspectral user expects, and attributes any netCDF writer accepts."""

import numpy as np
import pytest

import kestrel
from kind_files import KINDS

xr = pytest.importorskip("xarray")
from kestrel_tools import to_xarray  # noqa: E402
from kestrel_tools.xarray_backend.labels import spectral_axis  # noqa: E402


@pytest.fixture
def read(kind_file):
    def _read(kind, **kw):
        path, block = kind_file(kind, **kw)
        return path, kestrel.getOpusData(path, block)
    return _read


EXPECTED_DIMS = {
    "spectrum": ("wavenumber",), "image_map": ("y", "x", "wavenumber"), "trace_map": ("y", "x", "trace"),
    "series": ("time", "wavenumber"), "trace_series": ("time", "trace"), "multi_region": ("point", "wavenumber"),
    "multi_region_trace": ("point", "trace"),
}


@pytest.mark.parametrize("kind", KINDS)
def test_dims_values_and_attributes(read, kind):
    """Each kind has its dimensions, the very values of the result, and netCDF-safe attributes."""
    path, r = read(kind)
    a = to_xarray(r, path=path)
    assert a.dims == EXPECTED_DIMS[kind] and a.dtype == np.float32
    main = {"spectrum": "y", "image_map": "spectra", "trace_map": "traces", "series": "spectra",
            "trace_series": "traces"}.get(kind)
    expected = getattr(r, main) if main else np.concatenate([reg.spectra for reg in r.regions])
    if kind == "trace_series":
        expected = expected.T  # time first, like a series
    assert np.array_equal(a.values, expected)
    assert a.attrs["block"] == f"{r.dataType} {r.dimension} {r.derivative}" and a.attrs["source"] == path
    assert all(isinstance(v, (str, int, float)) for v in a.attrs.values())
    assert all(a.attrs[k] == v for k, v in r.parameters.items())


def test_map_coordinates_select_the_right_spectrum(read):
    path, r = read("image_map")
    a = to_xarray(r)
    assert a.x.values.tolist() == r.mapX.tolist() and a.y.values.tolist() == r.mapY.tolist()
    assert np.array_equal(a.sel(x=r.mapX[3], y=r.mapY[2]).values, r.spectra[2, 3])
    assert np.array_equal(a.wavenumber.values, r.x) and a.wavenumber.attrs["units"] == "cm-1"
    assert "source" not in a.attrs  # no path given


def test_trace_labels_and_series_times_are_coordinates(read):
    _, traces = read("trace_map")
    a = to_xarray(traces)
    assert a.trace.values.tolist() == traces.labels
    assert np.array_equal(a.sel(trace="band 1").values, traces.traces[:, :, 1])
    _, series = read("series")
    s = to_xarray(series)
    assert s.time.values.tolist() == series.z.tolist() and s.time.attrs["units"] == "s"
    _, ts = read("trace_series")
    t = to_xarray(ts)
    assert np.array_equal(t.sel(trace="area").values, ts.traces[1]) and t.time.attrs["units"] == "min"
    assert t.dims == ("time", "trace") and np.array_equal(t.time.values, ts.x)


@pytest.mark.parametrize("kind", ["multi_region", "multi_region_trace"])
def test_regions_group_by_title(read, kind):
    """groupby("region") gives back each region's own rows, with its x, y and start times."""
    _, r = read(kind)
    a = to_xarray(r)
    groups = dict(a.groupby("region"))
    assert sorted(groups) == sorted(reg.title for reg in r.regions)
    for reg in r.regions:
        g = groups[reg.title]
        assert np.array_equal(g.values, reg.spectra) and g.x.values.tolist() == reg.mapX.tolist()
        assert g.y.values.tolist() == reg.mapY.tolist()
        if reg.start_time is None:
            assert "start_time" not in a.coords
        else:
            assert g.start_time.values.tolist() == reg.start_time.tolist()


@pytest.mark.parametrize("dxu, name, units", [
    ("WN", "wavenumber", "cm-1"), ("MI", "wavelength", "um"), ("PNT", "data_point", "points"), ("MIN", "time", "min"),
    ("QQ", "abscissa", "QQ"), (None, "abscissa", ""), (7, "abscissa", "")])
def test_x_axis_named_from_its_unit(dxu, name, units):
    assert spectral_axis({} if dxu is None else {"DXU": dxu}) == (name, units)


def test_x_axis_in_time_moves_aside_on_a_time_series(write):
    """A series whose spectra run along time cannot have two dimensions named time."""
    from kind_files import series_file
    data, block = series_file()
    path = write(data.replace(b"DXU\0\x02\x00\x02\x00WN\0\0", b"DXU\0\x02\x00\x02\x00MIN\0"))
    a = to_xarray(kestrel.getOpusData(path, block))
    assert a.dims == ("time", "spectral_time") and a.spectral_time.attrs["units"] == "min"


def test_empty_regions_and_other_objects(write):
    r = kestrel.MultiRegionDataReturn(regions=[], dimension="3D", dataType="AB", deriv="NONE",
                                      parameters={"DXU": "WN"}, x=np.arange(3.0), minY=0.0, maxY=1.0)
    a = to_xarray(r)
    assert a.shape == (0, 3) and a.dims == ("point", "wavenumber")
    with pytest.raises(TypeError, match="getOpusData"):
        to_xarray(np.zeros(3))


@pytest.mark.parametrize("kind", ["spectrum", "trace_map", "multi_region"])
def test_written_to_netcdf_and_back_unchanged(read, kind, tmp_path):
    """Attributes and coordinates (text ones included) survive a netCDF round trip."""
    pytest.importorskip("h5netcdf")
    pytest.importorskip("h5py")
    path, r = read(kind)
    a = to_xarray(r, path=path)
    a.to_netcdf(tmp_path / "a.nc", engine="h5netcdf")
    with xr.open_dataarray(tmp_path / "a.nc", engine="h5netcdf") as back:
        xr.testing.assert_identical(back.load(), a)


def test_acquisition_time_as_the_metadata_module_reads_it():
    """The demo file's DAT/TIM become an ISO 8601 attribute, with no path needed."""
    metadata = pytest.importorskip("kestrel_tools.metadata")
    from kestrel_tools import DEMO_FILE
    r = kestrel.getOpusData(str(DEMO_FILE), ("AB", "2D", "NONE"))
    expected = metadata.file_info(DEMO_FILE, ("AB", "2D", "NONE")).acquired.isoformat()
    assert to_xarray(r).attrs["acquired"] == expected and to_xarray(r).attrs["acquired_from"] == "DAT/TIM"
