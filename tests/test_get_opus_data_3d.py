"""getOpusData on 3D blocks: every kind and variant reads back exactly what the writer put in, and the
messages, warnings and regressions that a comparison with the literal reading cannot pin by itself."""

import warnings

import numpy as np
import pytest

import kestrel
from opusfile import (ANNO_FLOAT, ANNO_INT, ANNO_TEXT, EXT_3D, REGION_COLUMNS, INSTRUMENT, anno_table,
                      annotation_block, block3d, data3d, data_block, image_map, opus, params, region_rows)

rng = np.random.default_rng(7)


def cube(npy, npx, npt):
    return rng.normal(size=(npy, npx, npt)).astype(np.float32)


def check_common(r, data_type, deriv="NONE"):
    assert (r.dimension, r.dataType, r.derivative) == ("3D", data_type, deriv)
    assert r.x.dtype == np.float64
    assert isinstance(r.parameters, dict) and r.minY == r.parameters["MNY"] and r.maxY == r.parameters["MXY"]


@pytest.mark.parametrize("name", ["AB", "SSC", "RAM", "TRC-CH2", "AB-CH2"])
@pytest.mark.parametrize("transposed", [False, True], ids=["per-position", "transposed"])
@pytest.mark.parametrize("shape", [(2, 3, 4), (1, 1, 7), (3, 2, 1), (5, 4, 9)])
def test_image_maps_read_back(write, name, transposed, shape):
    c = cube(*shape)
    path = write(opus(image_map(name, c.tolist(), transposed=transposed, AOX=-3.0, AOY=10.0, DDX=0.5, DDY=-2.0,
                                FXV=4000.0, LXV=400.0), params(kind=INSTRUMENT, sample=0, INS="Imager")))
    r = kestrel.getOpusData(path, (name.lower(), "3d", "none"))
    assert type(r) is kestrel.ImageDataReturn
    check_common(r, name)
    npy, npx, npt = shape
    assert r.spectra.dtype == np.float32 and r.spectra.shape == shape and np.array_equal(r.spectra, c)
    assert r.mapX.dtype == np.float64 and r.mapX.tobytes() == np.linspace(-3.0, -3.0 + 0.5 * (npx - 1), npx).tobytes()
    assert r.mapY.tobytes() == np.linspace(10.0, 10.0 - 2.0 * (npy - 1), npy).tobytes()
    assert r.x.tobytes() == np.linspace(4000.0, 400.0, npt).tobytes()
    assert r.parameters["INS"] == "Imager" and r.parameters["NPX"] == npx


def test_infinite_map_origin_warns_as_numpy_does(write):
    """The map axes come from numpy.linspace, warnings included."""
    path = write(opus(image_map("AB", cube(2, 3, 4).tolist(), AOX=float("inf"), AOY=0.0, DDX=1.0, DDY=1.0)))
    with warnings.catch_warnings(record=True) as got:
        warnings.simplefilter("always")
        r = kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    with warnings.catch_warnings(record=True) as wanted:
        warnings.simplefilter("always")
        expected = np.linspace(float("inf"), float("inf") + 1.0 * 2, 3)
    assert [(w.category, str(w.message)) for w in got] == [(w.category, str(w.message)) for w in wanted]
    assert wanted and r.mapX.tobytes() == expected.tobytes()


def test_map_positions_fill_row_by_row(write):
    """NPX 3, NPY 2, NPT 4: record 4 is spectra[1][1], record 2 spectra[0][2]; stored transposed, record 2
    is spectra[:, :, 2]."""
    c = np.arange(24, dtype=np.float32).reshape(2, 3, 4)
    r = kestrel.getOpusData(write(opus(image_map("AB", c.tolist()))), ("AB", "3D", "NONE"))
    assert r.spectra[1][1].tolist() == [16, 17, 18, 19] and r.spectra[0][2].tolist() == [8, 9, 10, 11]
    r = kestrel.getOpusData(write(opus(image_map("AB", c.tolist(), transposed=True))), ("AB", "3D", "NONE"))
    assert r.spectra[:, :, 2].tolist() == [[2, 6, 10], [14, 18, 22]]


def test_map_with_both_layout_flags_stays_zero(write):
    """NPX x NPY equal to NPT with records of 4 x NPT bytes: both flags hold, nothing is read."""
    c = cube(2, 2, 4)
    r = kestrel.getOpusData(write(opus(image_map("AB", c.tolist()))), ("AB", "3D", "NONE"))
    assert r.spectra.shape == (2, 2, 4) and not r.spectra.any()


def test_fewer_records_than_cells_leave_zeros(write):
    c = cube(2, 3, 2)
    blocks = data3d("AB", c.reshape(6, 2)[:4].tolist(), AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=3, NPY=2)
    r = kestrel.getOpusData(write(opus(blocks)), ("AB", "3D", "NONE"))
    assert np.array_equal(r.spectra.reshape(6, 2)[:4], c.reshape(6, 2)[:4]) and not r.spectra[1][1:].any()


@pytest.mark.parametrize("shape", [(2, 3, 4), (1, 1, 1), (4, 5, 2)])
def test_trace_maps_read_back(write, shape):
    npy, npx, n = shape
    c = cube(npy, npx, n)
    labels = [f"Peak {k} \u00b5m" for k in range(n)]
    records = [c[:, :, k].ravel().tolist() for k in range(n)]
    path = write(opus(data3d("TRC", records, labels=labels, AOX=0.0, AOY=0.0, DDX=2.0, DDY=1.0, NPX=npx, NPY=npy)))
    r = kestrel.getOpusData(path, ("TRC", "3D", "NONE"))
    assert type(r) is kestrel.ImageTRCDataReturn
    check_common(r, "TRC")
    assert r.traces.dtype == np.float32 and r.traces.shape == shape and np.array_equal(r.traces, c)
    assert r.labels == labels and r.mapX.tolist() == [2.0 * k for k in range(npx)]


def test_derived_map_falls_back_to_the_underived_grid_and_prints_once(write, capsys):
    c = cube(2, 3, 2)
    blocks = image_map("AB", c.tolist(), deriv=1, AOX=7.0, DDX=0.5)
    blocks[1] = params(dict(NPT=2, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=0.0, DDY=0.0,
                            NPX=0, NPY=2, XYZ=1), name="AB", deriv=1, extend=EXT_3D)
    original = dict(AOX=7.0, AOY=0.0, DDX=0.5, DDY=1.0, NPX=3, NPY=2)
    blocks.append(params(original, name="AB", extend=EXT_3D))
    r = kestrel.getOpusData(write(opus(blocks)), ("AB", "3D", "1DER"))
    assert capsys.readouterr().out == "Orignal mapping coordinates used\n"
    assert np.array_equal(r.spectra, c) and r.mapX.tolist() == [7.0, 7.5, 8.0]
    assert list(r.parameters) == ["NPT", "FXV", "LXV", "MNY", "MXY", "AOX", "AOY", "DDX", "DDY", "NPX", "NPY", "XYZ"]
    assert {k: r.parameters[k] for k in original} == original


def test_npx_zero_without_derivative_prints_nothing(write, capsys):
    """No fall-back without a derivative: empty axes along X, and a first record divides by NPX."""
    grid = dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=0, NPY=1)
    r = kestrel.getOpusData(write(opus(data3d("AB", [], npt=2, **grid))), ("AB", "3D", "NONE"))
    assert r.mapX.shape == (0,) and r.spectra.shape == (1, 0, 2)
    with pytest.raises(ZeroDivisionError, match="^integer modulo by zero$"):
        kestrel.getOpusData(write(opus(data3d("AB", [[1.0, 2.0]], **grid))), ("AB", "3D", "NONE"))
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("name", ["AB", "SSC", "TRC-CH2", "KM"])
@pytest.mark.parametrize("records, npt", [(3, 4), (1, 1), (40, 17), (2, 0)])
def test_spectrum_series_read_back(write, name, records, npt):
    spectra = rng.normal(size=(records, npt)).astype(np.float32)
    times = [1.5 * k - 2.0 for k in range(records)]
    r = kestrel.getOpusData(write(opus(data3d(name, spectra.tolist(), times=times, npt=npt, ZTX="sec"))),
                            (name, "3D", "NONE"))
    assert type(r) is kestrel.TimeResolvedDataReturn
    check_common(r, name)
    assert r.spectra.dtype == np.float32 and r.spectra.shape == (records, npt) and np.array_equal(r.spectra, spectra)
    assert r.z.dtype == np.float64 and r.z.tolist() == times and r.parameters["ZTX"] == "sec"


@pytest.mark.parametrize("labels", [["a", "bc"], ["x" * 64, ""], ["caf\u00e9", "\u00e9t\u00e9 2"]])
def test_trace_series_read_back(write, labels):
    traces = rng.normal(size=(len(labels), 5)).astype(np.float32)
    r = kestrel.getOpusData(write(opus(data3d("TRC", traces.tolist(), labels=labels, DXU="MIN"))),
                            ("TRC", "3D", "NONE"))
    assert type(r) is kestrel.TimeResolvedTRCDataReturn
    check_common(r, "TRC")
    assert r.traces.dtype == np.float32 and np.array_equal(r.traces, traces) and r.labels == labels


def test_gaps_runs_and_duplicates_order_the_series(write):
    """Records follow the store table: a gap shifts later runs, a repeated number keeps its first place
    and reads its later record."""
    values = [[float(k), float(-k)] for k in range(5)]
    entries = [(0, 1), (-1, 100), (7, 7), (1, 2)]
    r = kestrel.getOpusData(write(opus(data3d("AB", values, entries=entries, times=[0, 1, 2, 3, 4]))),
                            ("AB", "3D", "NONE"))
    assert r.spectra[:, 0].tolist() == [0.0, 3.0, 2.0, 4.0] and r.z.tolist() == [0.0, 3.0, 2.0, 4.0]


def region_blocks(name="AB", npt=3):
    trace = name == "TRC"
    n = npt if trace else 6
    records = rng.normal(size=(n if not trace else 2, npt)).astype(np.float32)
    first = 1 if trace else 0
    rows = (region_rows(5, [(0.5, 1.0), (1.5, 1.0), (0.5, 2.0), (1.5, 2.0)], nx=2, ny=2, first_index=first)
            + region_rows(2, [(9.0, 9.5), (10.0, 9.5)], first_index=first + 4 - (2 if trace else 0)))
    return records, rows, [data3d(name, records.tolist(), times=[0.25 * k for k in range(len(records))],
                                  labels=[f"trace {k}" for k in range(len(records))]),
                           annotation_block(anno_table(REGION_COLUMNS, rows))]


def test_multi_region_spectra_read_back(write):
    records, rows, blocks = region_blocks()
    r = kestrel.getOpusData(write(opus(blocks)), ("AB", "3D", "NONE"))
    assert type(r) is kestrel.MultiRegionDataReturn
    check_common(r, "AB")
    by_title = {reg.title: reg for reg in r.regions}
    assert sorted(by_title) == ["Region 2 (2 points)", "Region 5 (2 x 2)"]
    grid, free = by_title["Region 5 (2 x 2)"], by_title["Region 2 (2 points)"]
    assert grid.spectra.dtype == np.float32 and np.array_equal(grid.spectra, records[:4])
    assert np.array_equal(free.spectra, records[4:])
    assert grid.mapX.dtype == np.float64 and grid.mapX.tolist() == [0.5, 1.5, 0.5, 1.5]
    assert free.mapY.tolist() == [9.5, 9.5] and free.start_time.tolist() == [1.0, 1.25]
    assert grid.start_time.dtype == np.float64 and grid.start_time.tolist() == [0.0, 0.25, 0.5, 0.75]


def test_multi_region_traces_read_back(write):
    records, rows, blocks = region_blocks("TRC", npt=4)
    r = kestrel.getOpusData(write(opus(blocks)), ("TRC", "3D", "NONE"))
    assert type(r) is kestrel.MultiRegionTRCDataReturn
    assert r.labels == ["trace 0", "trace 1"]
    by_title = {reg.title: reg for reg in r.regions}
    grid = by_title["Region 5 (2 x 2)"]
    assert grid.start_time is None and grid.spectra.dtype == np.float32
    assert np.array_equal(grid.spectra, records.T) and by_title["Region 2 (2 points)"].spectra.shape == (2, 2)


def test_region_points_whose_file_index_is_not_stored_stay_zero(write):
    rows = region_rows(1, [(1.0, 2.0), (3.0, 4.0)], first_index=1)
    blocks = [data3d("AB", [[5.0, 6.0]], times=[7.0]), annotation_block(anno_table(REGION_COLUMNS, rows))]
    (region,) = kestrel.getOpusData(write(opus(blocks)), ("AB", "3D", "NONE")).regions
    assert region.spectra.tolist() == [[0.0, 0.0], [0.0, 0.0]] and region.mapX.tolist() == [0.0, 0.0]
    assert region.start_time.tolist() == [0.0, 0.0]


def odd_column_file(code=7, rows=None):
    columns = REGION_COLUMNS[:5] + [("Odd", code)] + REGION_COLUMNS[5:]
    rows = rows if rows is not None else region_rows(1, [(1.0, 2.0), (3.0, 4.0)], first_index=0)
    rows = [tuple(r[:5]) + (None,) + tuple(r[5:]) for r in rows]
    return opus(data3d("AB", [[1.0], [2.0]]), annotation_block(anno_table(columns, rows)))


def test_unknown_annotation_type_is_a_runtime_warning_per_cell(write):
    with pytest.warns(RuntimeWarning, match="^Unknown annotation data type 7$") as caught:
        r = kestrel.getOpusData(write(odd_column_file()), ("AB", "3D", "NONE"))
    assert [w.category for w in caught] == [RuntimeWarning, RuntimeWarning]
    assert r.regions[0].spectra.tolist() == [[1.0], [2.0]]


def unknown_column_file(column):
    columns = [(name, 7 if name == column else code) for name, code in REGION_COLUMNS]
    rows = [tuple(None if name == column else v for (name, _), v in zip(REGION_COLUMNS, r))
            for r in region_rows(1, [(1.0, 2.0), (3.0, 4.0)], first_index=0)]
    return opus(data3d("AB", [[1.0], [2.0]]), annotation_block(anno_table(columns, rows)))


def test_unknown_annotation_cell_gets_none_not_a_neighbours_value(write):
    """A cell of unknown type has no value of its own: None. The plain reading would hand on the value
    of the previous cell read (here AryType 0 as the file index, Fileindex as X), which is wrong data."""
    with pytest.warns(RuntimeWarning):
        (region,) = kestrel.getOpusData(write(unknown_column_file("Fileindex")), ("AB", "3D", "NONE")).regions
    assert region.spectra.tolist() == [[0.0], [0.0]] and region.mapX.tolist() == [0.0, 0.0]
    with pytest.warns(RuntimeWarning):
        (region,) = kestrel.getOpusData(write(unknown_column_file("X")), ("AB", "3D", "NONE")).regions
    assert np.isnan(region.mapX).all() and region.mapY.tolist() == [2.0, 4.0]


def test_unknown_annotation_cell_before_any_other_is_none(write):
    """A table whose first cell is of unknown type reads on (the plain reading would fail there)."""
    columns = [("Odd", 9)] + REGION_COLUMNS
    rows = [(None,) + tuple(r) for r in region_rows(1, [(1.0, 2.0)], first_index=0)]
    path = write(opus(data3d("AB", [[1.0]]), annotation_block(anno_table(columns, rows))))
    with pytest.warns(RuntimeWarning, match="type 9"):
        r = kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    assert r.regions[0].spectra.tolist() == [[1.0]]


def test_warning_turned_into_an_error_raises_cleanly(write):
    path = write(odd_column_file())
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(RuntimeWarning, match="^Unknown annotation data type 7$"):
            kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    # The file was closed on the way out and the next call is unaffected.
    with pytest.warns(RuntimeWarning):
        assert kestrel.getOpusData(path, ("AB", "3D", "NONE")).regions


def test_printed_line_goes_through_sys_stdout(write, capsys, monkeypatch):
    import io
    import sys
    blocks = data3d("AB", [[1.0]], deriv=2, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=1, NPY=0)
    blocks.append(params(dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=1, NPY=1), name="AB", extend=EXT_3D))
    path = write(opus(blocks))
    kestrel.getOpusData(path, ("AB", "3D", "2DER"))
    assert capsys.readouterr().out == "Orignal mapping coordinates used\n"
    elsewhere = io.StringIO()
    monkeypatch.setattr(sys, "stdout", elsewhere)
    kestrel.getOpusData(path, ("AB", "3D", "2DER"))
    assert elsewhere.getvalue() == "Orignal mapping coordinates used\n"


def test_regression_map_with_neither_layout_still_seeks_every_record(write):
    """Nothing is read with neither layout flag, but a record before the file start fails its seek."""
    payload = block3d([], [(0, 0), (-1, -10**6), (1, 1)], block_size=12, stored_blocks=5)
    p = dict(NPT=2, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=1, NPY=1)
    path = write(opus(params(p, name="AB", extend=EXT_3D), data_block("AB", payload, extend=EXT_3D)))
    with pytest.raises(OSError) as info:
        kestrel.getOpusData(path, ("AB", "3D", "NONE"))
    assert info.value.errno == 22


def test_regression_map_cube_past_64_bits_raises_numpys_error(write):
    """numpy.zeros refuses a cube of more than 2**63 bytes itself, with its own ValueError."""
    p = dict(NPT=2**21, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=2**22,
             NPY=2**22)
    path = write(opus(params(p, name="AB", extend=EXT_3D), data_block("AB", block3d([], [], block_size=4), extend=EXT_3D)))
    with pytest.raises(ValueError, match="^array is too big"):
        kestrel.getOpusData(path, ("AB", "3D", "NONE"))


@pytest.mark.parametrize("seed", range(4))
def test_regions_come_in_the_order_a_set_of_their_numbers_iterates(write, seed):
    """Regions are visited in set iteration order; a native order that drifts from the interpreter's
    reorders every region list."""
    r = np.random.default_rng(seed)
    numbers = list(dict.fromkeys(int(g) for g in r.integers(-2**31, 2**31, size=int(r.integers(1, 60)))))
    numbers += [-1, -2, 0][: seed]
    rows = []
    for k, g in enumerate(numbers):
        rows += region_rows(g, [(float(k), 0.0)], first_index=k + 1)
    path = write(opus(data3d("AB", [[1.0, 2.0]] * len(numbers), entries=[(1, len(numbers))]),
                      annotation_block(anno_table(REGION_COLUMNS, rows))))
    got = [t.title.split()[1] for t in kestrel.getOpusData(path, ("AB", "3D", "NONE")).regions]
    assert got == [str(g) for g in set(numbers)]


@pytest.mark.parametrize("info_size", [216, 4096])
def test_multi_region_times_across_read_batches(write, info_size):
    # Rows go in batches bounded by the bytes of their info areas (2,427 rows
    # of 216 bytes, 128 of 4,096); every row keeps its own time and values.
    n = 3000
    records = np.arange(2 * n, dtype=np.float32).reshape(n, 2)
    rows = region_rows(1, [(float(i), 0.0) for i in range(n)], first_index=0)
    path = write(opus([data3d("AB", records.tolist(), times=[0.5 * k for k in range(n)], info_size=info_size),
                       annotation_block(anno_table(REGION_COLUMNS, rows))]))
    for _ in range(2):  # the second read reuses the first one's scratch
        (region,) = kestrel.getOpusData(path, ("AB", "3D", "NONE")).regions
        assert np.array_equal(region.spectra, records)
        assert np.array_equal(region.start_time, 0.5 * np.arange(n))
