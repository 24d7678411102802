"""Collections of mixed folders: the majority's kind and axis, the common grid, no silent mixing,
files whose axis ends are not finite, streams, and what each real sample folder holds and reports."""

import math
import os
import pathlib
import threading

import numpy as np
import pytest

import kestrel
from kestrel_tools import read_collection
from kestrel_tools.cli.__main__ import main as kestrel_main
from kestrel_tools.cli.collect_command import parse_axis
from opusfile import opus, spectrum

SAMPLES = pathlib.Path(os.environ.get("KESTREL_SAMPLES", pathlib.Path(__file__).resolve().parents[2].parent
                                      / "shared" / "opus-samples"))
if not SAMPLES.is_dir():
    SAMPLES = pathlib.Path("/work/shared/opus-samples")
rng = np.random.default_rng(3)
A = dict(FXV=4000.0, LXV=400.0)  # 16 points: step 240


def write(folder, name, values, block="AB", **fields):
    (folder / name).write_bytes(opus(spectrum(block, list(values), **{**A, **fields})))
    return str(folder / name)


@pytest.fixture
def mixed(tmp_path):
    """A folder whose first files are not the majority: what each file is, and its values."""
    rows = rng.normal(size=(8, 16)).astype(np.float32)
    files = {
        "0_inf.0": write(tmp_path, "0_inf.0", rows[0], FXV=math.inf),       # not finite: never fixes the axis
        "1_ssc.0": write(tmp_path, "1_ssc.0", rows[1], block="SSC"),          # another kind
        "2_ab.0": write(tmp_path, "2_ab.0", rows[2]),
        "3_coarse.0": write(tmp_path, "3_coarse.0", rows[3][:6]),           # another axis: 6 points, step 720
        "4_ab.0": write(tmp_path, "4_ab.0", rows[4]),
        "5_um.0": write(tmp_path, "5_um.0", rows[5], DXU="MI"),               # same numbers, another x unit
        "6_nan.0": write(tmp_path, "6_nan.0", rows[6], LXV=math.nan),
        "7_ab.0": write(tmp_path, "7_ab.0", rows[7]),
    }
    return tmp_path, files, rows


@pytest.mark.parametrize("workers", [1, 2])
def test_same_axis_takes_the_majority(mixed, workers):
    """Absorbance on the axis most files share, though the first files are neither; each other file says why."""
    folder, f, rows = mixed
    c = read_collection(folder, workers=workers)
    assert c.files == [f["2_ab.0"], f["4_ab.0"], f["7_ab.0"]] and (c.y_kind, c.x_unit) == ("absorbance", "cm-1")
    assert np.array_equal(c.spectra, rows[[2, 4, 7]]) and np.array_equal(c.x, np.linspace(4000.0, 400.0, 16))
    reasons = dict(c.failed)
    assert set(reasons) == {f[n] for n in ("0_inf.0", "1_ssc.0", "3_coarse.0", "5_um.0", "6_nan.0")}
    assert "not finite" in reasons[f["0_inf.0"]] and "not finite" in reasons[f["6_nan.0"]]
    assert "single channel" in reasons[f["1_ssc.0"]] and "('SSC', '2D', 'NONE')" in reasons[f["1_ssc.0"]]
    assert "x axis is in um where most files' are in cm-1" in reasons[f["5_um.0"]]
    assert "6 points from 4000.0 to 400.0 cm-1" in reasons[f["3_coarse.0"]] and "axis='common'" in reasons[
        f["3_coarse.0"]]
    assert {(pathlib.Path(e.path).name, e.why) for e in c.excluded} == {
        ("0_inf.0", "not finite"), ("6_nan.0", "not finite"), ("1_ssc.0", "kind"), ("5_um.0", "kind"),
        ("3_coarse.0", "axis")}


def test_common_grid_and_explicit_axis(mixed):
    """common: every absorbance file on the finest axis over the shared range; never across units or kinds."""
    folder, f, rows = mixed
    c = read_collection(folder, axis="common", workers=2)
    assert c.files == [f[n] for n in ("2_ab.0", "3_coarse.0", "4_ab.0", "7_ab.0")]
    assert np.allclose(c.x, np.linspace(4000.0, 400.0, 16))  # the range both axes cover, at the finer step
    assert np.array_equal(c.spectra[[0, 2, 3]], rows[[2, 4, 7]])  # on the grid already: exact
    coarse = np.interp(c.x[::-1], np.linspace(400.0, 4000.0, 6), rows[3][:6][::-1])[::-1]
    np.testing.assert_allclose(c.spectra[1], coarse, rtol=1e-6)
    target = np.array([5000.0, 4000.0, 2000.0, 100.0])
    explicit = read_collection(folder, axis=target)
    assert explicit.files == c.files and np.isnan(explicit.spectra[:, [0, 3]]).all()
    assert {pathlib.Path(p).name for p, _ in explicit.failed} == {"0_inf.0", "1_ssc.0", "5_um.0", "6_nan.0"}


def test_ties_and_files_without_a_shared_range(tmp_path):
    """A tie of kinds goes to the better-ranked block, of axes to the one met first; disjoint ranges are an error."""
    for i, block in enumerate(["SSC", "SSC", "AB", "AB"]):
        write(tmp_path, f"{i}.0", [1.0, 2.0, 3.0], block=block, FXV=10.0 + (i == 3))
    c = read_collection(tmp_path)
    assert [pathlib.Path(p).name for p in c.files] == ["2.0"] and c.y_kind == "absorbance"
    apart = tmp_path / "apart"
    apart.mkdir()
    write(apart, "a.0", [1.0, 2.0], FXV=10.0, LXV=5.0)
    write(apart, "b.0", [1.0, 2.0], FXV=4.0, LXV=1.0)
    with pytest.raises(ValueError, match=r"share no x range: .*a\.0 covers 5\.0 to 10\.0 cm-1, .*b\.0 1\.0 to 4\.0"):
        read_collection(apart, axis="common")


def test_fifos_named_or_in_a_folder(tmp_path):
    """A FIFO named explicitly is read once (also as the first file); in a folder it is passed over, not waited on."""
    values = rng.normal(size=(2, 16)).astype(np.float32)
    path = write(tmp_path, "a.0", values[0])
    fifo = tmp_path / "b.0"
    os.mkfifo(fifo)
    data = opus(spectrum("AB", values[1].tolist(), **A))
    for order in ([path, str(fifo)], [str(fifo), path]):
        writer = threading.Thread(target=fifo.write_bytes, args=(data,), daemon=True)
        writer.start()
        c = read_collection(order)
        writer.join(30)
        assert c.files == order and not c.failed
        assert np.array_equal(c.spectra, values if order[0] == path else values[::-1])
    folder = read_collection(tmp_path)
    assert folder.files == [path] and folder.passed_over == [str(fifo)]


@pytest.mark.parametrize("text, expected", [
    ("same", "same"), ("common", "common"), ("4000:3990:-5", [4000.0, 3995.0, 3990.0]), ("1:2:0.5", [1.0, 1.5, 2.0]),
    ("1:2:-1", ValueError), ("1:2:0", ValueError), ("1:nan:1", ValueError), ("1:2", ValueError),
    ("0:1e9:1e-3", ValueError), ("union", ValueError),
])
def test_parse_axis(text, expected):
    if expected is ValueError:
        with pytest.raises(ValueError, match="--axis"):
            parse_axis(text)
    else:
        assert np.array_equal(parse_axis(text), expected)


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_collect_command_advice(mixed, capsys):
    """collect says what the majority is and which option includes the rest; --axis common takes the other axis."""
    folder, f, rows = mixed
    out = folder / "out.csv"
    assert kestrel_main(["collect", str(folder), "--out", str(out), "--no-progress"]) == 1
    err = capsys.readouterr().err
    assert ("4 of 8 files are absorbance spectra; 1_ssc.0 is a single channel: use --block SSC 2D NONE to collect "
            "single channels; 5_um.0 is in um: collect it apart (a collection holds one x unit)") in err
    assert ("3 of 4 absorbance spectra share 16 points on 4000-400 cm-1; 3_coarse.0 is on other axes (e.g. 6 points "
            "on 4000-400 cm-1): use --axis common") in err
    assert f"{f['0_inf.0']}: " in err and f"{f['1_ssc.0']}: " not in err
    assert kestrel_main(["collect", str(folder), "--out", str(out), "--no-progress", "--axis", "common",
                         "--force"]) == 1
    assert "4 spectra x 16 points" in capsys.readouterr().err
    assert kestrel_main(["collect", str(folder), "--out", str(out), "--axis", "1:2:-1"]) == 2


# folder -> (axis, rows, points, kind, the files left out and why)
REAL_FOLDERS = {
    "spectrochempy": ("same", 4, 2567, ("absorbance", "cm-1"), {"background.0": "kind"}),
    "opusreader2": ("same", 2, 3578, ("absorbance", "cm-1"),
                    {"test_spectra.0": "kind", **{n: "axis" for n in (
                        "629266_1TP_A-1_C1.0", "629266_1TP_A-1_D1.0", "BF_lo_01_soil_cal.1", "MMP_2107_Test1.001",
                        "issue81_A1.1.0", "issue82_Opus_test.0", "issue94_RT_01_1_23-02-21_13-23-54.0")}}),
    "opusreader2 common": ("common", 9, 48, ("absorbance", "cm-1"), {"test_spectra.0": "kind"}),
    "tum-esm-utils": ("same", 3, 228512, ("interferogram", "points"),
                      {"so20170608.ifg.000": "kind", "md20220409s0e00a.0200": None}),
    "openspecy": ("same", 2, 2126, ("absorbance", "cm-1"), {"202012348_PS1_interior (1).2": "kind"}),
    "pictures": ("same", 1, 1816, ("reflectance", "cm-1"), {}),
    "ramanchada2": ("same", 1, 4096, ("raman", "cm-1"), {}),
}


@pytest.mark.skipif(not SAMPLES.is_dir(), reason="no sample files")
@pytest.mark.parametrize("name", REAL_FOLDERS)
def test_real_folders(name):
    """What each real folder's collection holds, and what it leaves out and why."""
    axis, n, points, kind, left_out = REAL_FOLDERS[name]
    c = read_collection(SAMPLES / name.split()[0], axis=axis, workers=2)
    assert (len(c), c.x.size, (c.y_kind, c.x_unit)) == (n, points, kind)
    assert {pathlib.Path(p).name for p, _ in c.failed} == set(left_out)
    assert {pathlib.Path(e.path).name: e.why for e in c.excluded} == {k: v for k, v in left_out.items() if v}
    if axis == "same":
        for path, row in zip(c.files, c.spectra):
            assert np.array_equal(row, kestrel.getOpusData(path, c.blocks[0]).y)
    else:
        assert c.x[0] > c.x[-1] and np.isfinite(c.spectra).all()


def test_open_dataset_reads_a_fifo_once(tmp_path):
    """open_dataset of a FIFO reads the stream once and serves its values (it waited or said "not OPUS")."""
    pytest.importorskip("xarray")
    from kestrel_tools import open_dataset
    values = rng.normal(size=16).astype(np.float32)
    fifo = tmp_path / "s.0"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(opus(spectrum("AB", values.tolist(), **A)),), daemon=True)
    writer.start()
    ds = open_dataset(str(fifo))
    writer.join(30)
    assert np.array_equal(ds[next(iter(ds.data_vars))].values, values)


@pytest.mark.parametrize("block, one, many", [("RAM", "a Raman spectrum", "Raman spectra"),
                                              ("ATR", "an ATR spectrum", "ATR spectra"),
                                              ("KM", "a Kubelka-Munk spectrum", "Kubelka-Munk spectra")])
def test_other_kinds_are_named_as_people_write_them(tmp_path, capsys, block, one, many):
    for name in ("a.0", "b.0"):
        write(tmp_path, name, rng.normal(size=16))
    odd = write(tmp_path, "c.0", rng.normal(size=16), block=block)
    assert f"holds {one} " in dict(read_collection(tmp_path).failed)[odd]
    assert kestrel_main(["collect", str(tmp_path), "--out", str(tmp_path / "t.csv"), "--no-progress"]) == 1
    assert f"c.0 is {one}: use --block {block} 2D NONE to collect {many}" in capsys.readouterr().err


def _narrow(folder):
    write(folder, "wide.0", rng.normal(size=16))
    write(folder, "narrow.0", rng.normal(size=4), FXV=4000.0, LXV=3760.0)


def _nested(folder):
    for sub, block in (("x", "AB"), ("y", "SSC")):
        (folder / sub).mkdir()
        write(folder / sub, "s.0", rng.normal(size=16), block=block)


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
@pytest.mark.parametrize("make, options, said", [
    (_narrow, ["--axis", "common"], "the range all 2 files cover is only 4000-3760 cm-1 (4 points), set by narrow.0 "
                                    "(4000-3760 cm-1); leave out"),
    (_narrow, ["--axis", "4000:400:-240"], "narrow.0 covers only part of the grid (e.g. 4000-3760 cm-1): NaN where"),
    (_nested, [], "only subfolders (x, y): --recursive reads them"),
    (_nested, ["--recursive"], "1 of 2 files is an absorbance spectrum on 4000-400 cm-1; y/s.0 is a single channel"),
    (_nested, ["--recursive", "--block", "AB", "2D", "NONE"], "1 spectrum x 16 points written"),
], ids=["common range", "partial grid", "subfolders", "same names", "one row"])
def test_collect_says_what_a_newcomer_needs(tmp_path, capsys, make, options, said):
    make(tmp_path)
    kestrel_main(["collect", str(tmp_path), "--out", str(tmp_path / "t.csv"), "--no-progress", *options])
    assert said in capsys.readouterr().err


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_collect_again_into_the_folder_it_reads(tmp_path, capsys):
    """The table of an earlier run in the folder is the output, not an input that is "not an OPUS file"."""
    write(tmp_path, "a.0", rng.normal(size=16))
    for force in ([], ["--force"]):
        assert kestrel_main(["collect", str(tmp_path), "--out", str(tmp_path / "t.csv"), *force]) == 0
    assert "not an OPUS file" not in capsys.readouterr().err


def test_convert_combine_points_to_collect_for_other_axes(mixed, capsys):
    """convert has no --axis: its advice names the command that interpolates, not a Python argument."""
    folder, _, _ = mixed
    kestrel_main(["convert", str(folder), "--combine", "--to", "csv", "--out", str(folder / "o")])
    err = capsys.readouterr().err
    assert f"use kestrel collect {folder} --axis common to interpolate" in err and "axis='common'" not in err
