"""kestrel convert: one output per file or one table per folder, nothing overwritten unasked, failures named."""

import csv
import shutil

import pathlib

import numpy as np
import pytest

import kestrel
from kestrel_tools import DEMO_FILE, DEMO_REGIONS_FILE, model
from kestrel_tools.cli.__main__ import main
from opusfile import opus, spectrum

pq = pytest.importorskip("pyarrow.parquet")

ROW_KEYS = list(model.KINDS["collection"].wide_keys)  # file, block, the metadata

SAMPLES = pathlib.Path(__file__).resolve().parents[3] / "shared" / "opus-samples"


@pytest.fixture
def folder(tmp_path):
    """Three spectra on one axis, a truncated OPUS file and a text file."""
    data = tmp_path / "run"
    data.mkdir()
    for n in range(3):
        (data / f"s{n}.0").write_bytes(opus(spectrum("AB", [n, n + 0.5, n + 0.25], FXV=3.0, LXV=1.0)))
    (data / "broken.0").write_bytes(opus(spectrum("AB", [1.0, 2.0, 3.0]))[:-20])
    (data / "notes.txt").write_text("not a spectrum")
    return data


@pytest.mark.parametrize("fmt, suffix", [("csv", ".csv"), ("jdx", ".jdx"), ("nc", ".nc"), ("parquet", ".parquet")])
def test_each_format_from_the_demo_file(tmp_path, capsys, fmt, suffix):
    """One output per input, named after it, in --out; the main block unless --block names one."""
    code = main(["convert", str(DEMO_FILE), "--to", fmt, "--out", str(tmp_path / "o"), "--block", "AB", "2D", "NONE"])
    target = tmp_path / "o" / ("demo.0" + suffix)
    assert code == 0 and target.is_file() and capsys.readouterr().out.split() == [str(target)]


def test_folder_converts_the_readable_files_and_names_the_broken_one(folder, capsys):
    code = main(["convert", str(folder), "--to", "csv"])
    err = capsys.readouterr().err
    assert code == 1
    assert sorted(p.name for p in folder.glob("*.csv")) == ["s0.0.csv", "s1.0.csv", "s2.0.csv"]
    assert "broken.0" in err and "notes.txt" not in err and len(err.strip().splitlines()) == 1
    with open(folder / "s1.0.csv", newline="") as f:
        assert list(csv.reader(f)) == [["wavenumber", "value"], ["3.0", "1.0"], ["2.0", "1.5"], ["1.0", "1.25"]]


def test_jcamp_without_block_takes_the_primary_single_spectrum(tmp_path):
    """The demo file's primary block is a map; JCAMP-DX then takes its primary 2D block instead of failing."""
    assert main(["convert", str(DEMO_FILE), "--to", "jdx", "--out", str(tmp_path)]) == 0
    assert "##NPOINTS=1800" in (tmp_path / "demo.0.jdx").read_text()


def test_existing_outputs_are_kept_without_force(tmp_path, capsys):
    out = tmp_path / "demo.0.jdx"
    out.write_text("mine")
    args = ["convert", str(DEMO_FILE), "--to", "jdx", "--out", str(tmp_path), "--block", "AB", "2D", "NONE"]
    assert main(args) == 1
    assert out.read_text() == "mine" and "--force" in capsys.readouterr().err
    assert main(args + ["--force"]) == 0
    assert out.read_text().startswith("##TITLE=")


def test_two_inputs_never_write_one_output(tmp_path, capsys):
    """Files of the same name from two folders collide in --out: the second is refused, even with --force."""
    for sub in ("a", "b"):
        (tmp_path / sub).mkdir()
        shutil.copy(DEMO_FILE, tmp_path / sub / "x.0")
    code = main(["convert", str(tmp_path / "a" / "x.0"), str(tmp_path / "b" / "x.0"), "--to", "nc",
                 "--out", str(tmp_path / "o"), "--force"])
    assert code == 1 and "already written" in capsys.readouterr().err


def test_combine_makes_one_table_per_folder(folder, tmp_path, capsys):
    code = main(["convert", str(folder), "--to", "parquet", "--combine", "--out", str(tmp_path / "o")])
    assert code == 1 and "broken.0" in capsys.readouterr().err
    table = pq.read_table(tmp_path / "o" / "run.parquet")
    assert [name.rsplit("/", 1)[-1] for name in table.column("file").to_pylist()] == ["s0.0", "s1.0", "s2.0"]
    assert table.column_names == [*ROW_KEYS, "wavenumber", "value"]
    assert table.column("wavenumber")[0].as_py() == [3.0, 2.0, 1.0]
    np.testing.assert_array_equal(np.stack(table.column("value").to_numpy(zero_copy_only=False))[:, 1],
                                  np.array([0.5, 1.5, 2.5], np.float32))


def test_combine_with_long_layout_in_csv(folder, tmp_path):
    (folder / "broken.0").unlink()
    assert main(["convert", str(folder), "--to", "csv", "--combine", "--layout", "long", "--out", str(tmp_path)]) == 0
    with open(tmp_path / "run.csv", newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == [*ROW_KEYS, "wavenumber", "value"] and len(rows) == 1 + 9


@pytest.mark.parametrize("args", [
    ["--to", "jdx", "--combine"],
    ["--to", "nc", "--layout", "long"],
    ["--to", "xlsx"],
    [],
])
def test_usage_errors_exit_2(capsys, args):
    assert main(["convert", str(DEMO_FILE)] + args) == 2
    assert "usage:" in capsys.readouterr().err


def test_help_exits_0(capsys):
    assert main(["convert", "--help"]) == 0 and "--combine" in capsys.readouterr().out


def test_missing_file_and_map_to_jcamp_exit_1(tmp_path, capsys):
    assert main(["convert", str(tmp_path / "none.0"), "--to", "csv"]) == 1
    assert main(["convert", str(DEMO_REGIONS_FILE), "--to", "jdx", "--out", str(tmp_path)]) == 1
    err = capsys.readouterr().err
    assert "none.0" in err and "single spectra, not a multi-region map" in err
    assert not list(tmp_path.iterdir())


@pytest.mark.skipif(not SAMPLES.is_dir(), reason="no sample files")
def test_real_samples_to_jcamp(tmp_path):
    """Every real sample of two folders converts; the Raman spectrum reads back exactly."""
    jcamp = pytest.importorskip("jcamp")
    code = main(["convert", str(SAMPLES / "opusreader2"), str(SAMPLES / "ramanchada2"), "--to", "jdx",
                 "--out", str(tmp_path)])
    assert code == 0
    raman = jcamp.readfile(str(tmp_path / "test_opus.0.jdx"))
    original = kestrel.getOpusData(str(SAMPLES / "ramanchada2" / "test_opus.0"), ("RAM", "2D", "NONE"))
    assert raman["data type"] == "RAMAN SPECTRUM"
    np.testing.assert_array_equal(raman["y"].astype(np.float32), original.y)
    assert len(list(tmp_path.glob("*.jdx"))) == len(list((SAMPLES / "opusreader2").iterdir())) + 1
