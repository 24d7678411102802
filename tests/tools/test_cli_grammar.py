"""The grammar every subcommand shares, several files at once, listings from plans, and files whose
x axis or map grid is not what it seems."""

import json
import math
import pathlib

import pytest

import kestrel
from kestrel_tools import DEMO_FILE, DEMO_REGIONS_FILE
from kestrel_tools.cli.__main__ import main
from opusfile import data3d, opus, spectrum

pytest.importorskip("matplotlib")
SUBCOMMANDS = [[], ["info"], ["plot"], ["convert", "--to", "csv"], ["collect", "--out", "t.csv"]]


@pytest.mark.parametrize("command", SUBCOMMANDS, ids=lambda c: c[0] if c else "listing")
@pytest.mark.parametrize("extra, words", [
    (["--block", "XY", "2D", "NONE"], "XY is not a data block type"),
    (["--block", "AB", "4D", "NONE"], "2D or 3D"),
    (["--block", "AB", "2D"], "expected 3 arguments"),
    (["--quiet", "--verbose"], "not allowed with"),
    (["--no-such-option"], "unrecognized arguments"),
])
def test_usage_errors_are_the_same_everywhere(tmp_path, monkeypatch, capsys, command, extra, words):
    monkeypatch.chdir(tmp_path)
    assert main(command[:1] + [str(DEMO_FILE)] + command[1:] + extra) == 2
    err = capsys.readouterr().err
    assert err.startswith("usage: kestrel") and words in err and not list(tmp_path.iterdir())


def test_version(capsys):
    assert main(["--version"]) == 0
    assert capsys.readouterr().out.startswith("kestrel 0.")


def test_listing_and_info_read_no_values(monkeypatch, capsys):
    """Blocks are described from their plans: the whole-block read is never called."""
    def refuse(*args):
        raise AssertionError("a listing must not read values")

    monkeypatch.setattr(kestrel, "getOpusData", refuse)
    assert main([str(DEMO_FILE), str(DEMO_REGIONS_FILE)]) == 0
    out = capsys.readouterr().out
    assert "image map 6 x 5 (x -250 .. 0 um, y -100 .. 100 um)" in out and "multi-region map, 2 regions" in out
    assert main(["info", str(DEMO_FILE), str(DEMO_REGIONS_FILE), "--json"]) == 0
    assert [len(f["blocks"]) for f in json.loads(capsys.readouterr().out)] == [5, 1]


def test_several_files_plot_into_a_folder(tmp_path, capsys):
    assert main(["plot", str(DEMO_FILE), str(DEMO_REGIONS_FILE), "--out", str(tmp_path / "pictures")]) == 0
    assert sorted(p.name for p in (tmp_path / "pictures").iterdir()) == ["demo.0.png", "demo_regions.0.png"]


def test_verbose_adds_the_full_error(write, capsys):
    path = write(DEMO_FILE.read_bytes()[:60000])
    assert main([path]) == 1
    quiet = capsys.readouterr()
    assert "Traceback" not in quiet.err and "NONE  not readable: the file is cut short" in quiet.out
    assert main([path, "--verbose"]) == 1
    assert "Traceback" in capsys.readouterr().err


@pytest.mark.parametrize("first", [math.nan, math.inf])
def test_info_of_a_non_finite_x_axis(write, capsys, first):
    path = write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=first, LXV=1.0)))
    assert main(["info", path]) == 0
    assert "x nan .. 1 cm-1" in capsys.readouterr().out  # numpy's axis from an infinite end is NaN too
    assert main(["info", path, "--json"]) == 0
    assert json.loads(capsys.readouterr().out)["blocks"][0]["x"]["first"] is None


def test_a_small_file_claiming_a_huge_map(write, tmp_path, capsys):
    """Three recorded positions of a claimed 1024 x 1024 grid: said before the work, converted only with --force."""
    path = write(opus(data3d("AB", [[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]], NPX=1024, NPY=1024, AOX=0.0, AOY=0.0,
                             DDX=1.0, DDY=1.0)))
    assert main([path]) == 0
    assert "1048576 spectra of 2 points (3 recorded)" in capsys.readouterr().out
    out = tmp_path / "out"
    assert main(["convert", path, "--to", "nc", "--out", str(out)]) == 1
    err = capsys.readouterr().err
    assert "AB 3D NONE: the file records 3 of the 1,048,576 positions" in err
    assert "over 100 times" in err and "--force" in err
    assert list(out.iterdir()) == []
    assert main(["plot", path, "--out", str(tmp_path / "map.png")]) == 0
    assert "AB 3D NONE: the file records 3 of the 1,048,576 positions" in capsys.readouterr().err
    assert main(["info", path]) == 0
    assert "records 3 of the 1,048,576 positions" in capsys.readouterr().out


def test_bare_csv_is_the_export_dialect(tmp_path, capsys):
    assert main([str(DEMO_FILE), "--block", "AB", "2D", "NONE", "--csv"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[:2] == ["wavenumber,value", "3999.6,0.02"]
    out = tmp_path / "ab.csv"
    assert main([str(DEMO_FILE), "--block", "AB", "2D", "NONE", "--csv", "--out", str(out)]) == 0
    assert pathlib.Path(out).read_text().splitlines() == lines
