"""kestrel plot draws every kind to a PNG of the right size that is not blank; kestrel info --json tells all."""

import json

import pathlib

import numpy as np
import pytest

from kestrel_tools import DEMO_FILE, DEMO_REGIONS_FILE
from kestrel_tools.cli.__main__ import main
from opusfile import REGION_COLUMNS, anno_table, annotation_block, data3d, opus, region_rows

Image = pytest.importorskip("PIL.Image")
pytest.importorskip("matplotlib")

GRID = dict(AOX=1.0, AOY=2.0, DDX=0.5, DDY=1.0, NPX=2, NPY=2)

SAMPLES = pathlib.Path(__file__).resolve().parents[3] / "shared" / "opus-samples"


def pixels(path):
    with Image.open(path) as picture:
        return np.asarray(picture.convert("RGB"))


@pytest.mark.parametrize("source, extra", [
    (str(DEMO_FILE), ["--block", "AB", "2D", "NONE"]),
    (str(DEMO_FILE), ["--block", "AB", "3D", "NONE", "--at", "2900"]),
    (str(DEMO_FILE), ["--block", "AB", "3D", "NONE", "--band", "2800:3000"]),
    (str(DEMO_FILE), ["--block", "TR", "3D", "NONE"]),
    (str(DEMO_REGIONS_FILE), []),
    (opus(data3d("TRC", [[1.0, 2.0, 3.0, 4.0], [5.0, 6.0, 8.0, 7.0]], labels=["a", "b"], **GRID)),
     ["--trace", "1"]),
    (opus(data3d("TRC", [[1.0, 2.0, 4.0]], labels=["peak"])), []),
    (opus(data3d("TRC", [[1.0], [2.0]]), annotation_block(anno_table(REGION_COLUMNS, region_rows(
        4, [(0, 0), (1, 1)], first_index=0)))), []),
], ids=["spectrum", "map-at", "map-band", "series", "regions", "trace-map", "trace-series", "region-traces"])
def test_every_kind_draws_a_picture(write, tmp_path, capsys, source, extra):
    path = source if isinstance(source, str) else write(source)
    out = tmp_path / "p.png"
    assert main(["plot", path, "--out", str(out), "--dpi", "50"] + extra) == 0, capsys.readouterr().err
    image = pixels(out)
    assert image.shape == (240, 375, 3)          # 7.5 x 4.8 inches at 50 dpi
    colours = np.unique(image.reshape(-1, 3), axis=0)
    assert len(colours) > 20                     # lines, text and colour maps, not a blank page
    assert (image < 128).any(axis=2).mean() > 0.005


@pytest.mark.parametrize("extra, message", [
    (["--at", "5000"], "outside"),
    (["--band", "5000:6000"], "no x value"),
    (["--band", "nonsense"], "A:B"),
    (["--at", "1", "--band", "1:2"], "not allowed"),
])
def test_bad_positions_are_usage_errors(tmp_path, capsys, extra, message):
    args = ["plot", str(DEMO_FILE), "--block", "AB", "3D", "NONE", "--out", str(tmp_path / "p.png")]
    assert main(args + extra) == 2
    assert message in capsys.readouterr().err and not (tmp_path / "p.png").exists()


def test_plot_of_an_unreadable_file_exits_1(tmp_path, capsys):
    (tmp_path / "x.0").write_bytes(b"not opus")
    assert main(["plot", str(tmp_path / "x.0"), "--out", str(tmp_path / "p.png")]) == 1
    assert "x.0" in capsys.readouterr().err


def test_info_json_of_the_demo_file(capsys):
    assert main(["info", str(DEMO_FILE), "--json"]) == 0
    info = json.loads(capsys.readouterr().out)
    assert {"file", "size", "primary_block", "acquired", "metadata", "blocks", "pictures"} <= set(info)
    blocks = {tuple(b["block"]): b for b in info["blocks"]}
    assert blocks[("AB", "2D", "NONE")]["kind"] == "spectrum"
    assert blocks[("AB", "2D", "NONE")]["x"] == {"first": 3999.6, "last": 400.2, "points": 1800, "unit": "cm-1",
                                                     "name": "wavenumber", "label": "Wavenumber"}
    image_map = blocks[("AB", "3D", "NONE")]
    assert image_map["kind"] == "image_map" and image_map["shape"] == [5, 6, 200]
    assert image_map["map"] == {"columns": 6, "rows": 5, "x": {"min": -250.0, "max": 0.0},
                                "y": {"min": -100.0, "max": 100.0}, "unit": "um", "positions": 30, "recorded": 30}
    assert blocks[("TR", "3D", "NONE")]["z"]["unit"] == "s"
    assert info["metadata"]["sample_name"] == "Polyethylene film"
    overview, spot = info["pictures"]
    assert (overview["Title"], overview["imgext"], overview["bytes"], overview["Pos. X"]) == \
        ("Overview", "bmp", 1206, 33733.0)
    assert "image" not in spot and spot["imgext"] == "png"


def test_info_json_of_regions_and_plain_text(capsys):
    assert main(["info", str(DEMO_REGIONS_FILE), "--json"]) == 0
    (block,) = json.loads(capsys.readouterr().out)["blocks"]
    assert block["kind"] == "multi_region" and block["shape"] == [7, 200]
    assert [(r["title"], r["points"]) for r in block["regions"]] == [("Region 1 (2 x 2)", 4),
                                                                     ("Region 2 (3 points)", 3)]
    assert main(["info", str(DEMO_FILE)]) == 0
    assert "image_map" in capsys.readouterr().out


@pytest.mark.parametrize("content, code", [(b"not opus", 1), (None, 1)])
def test_info_of_a_file_that_cannot_be_read(tmp_path, capsys, content, code):
    path = tmp_path / "x.0"
    if content is not None:
        path.write_bytes(content)
    assert main(["info", str(path), "--json"]) == code
    captured = capsys.readouterr()
    assert captured.out == "" and "x.0" in captured.err


@pytest.mark.skipif(not SAMPLES.is_dir(), reason="no sample files")
def test_info_of_a_real_file_with_pictures(capsys):
    assert main(["info", str(SAMPLES / "pictures" / "peach_juice.0"), "--json"]) == 0
    info = json.loads(capsys.readouterr().out)
    assert len(info["pictures"]) == 55 and all("image" not in p for p in info["pictures"])
    assert info["acquired"] == "2012-11-09T11:45:34-06:00"
    assert info["metadata"]["instrument"] == "IFS66V/S"
    assert all(b["kind"] == "spectrum" for b in info["blocks"])
