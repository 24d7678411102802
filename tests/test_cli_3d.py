"""The kestrel command describes 3D blocks: kind, grid or regions, spectra or traces, x range."""

import pytest

from kestrel_tools.data import DEMO_FILE
from kestrel_tools.cli.__main__ import main
from opusfile import REGION_COLUMNS, anno_table, annotation_block, data3d, image_map, opus, region_rows

GRID = dict(AOX=1.0, AOY=2.0, DDX=0.5, DDY=1.0, NPX=2, NPY=1)


@pytest.mark.parametrize("blocks, name, text", [
    (image_map("AB", [[[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]]], AOX=1.0, DDX=0.5, FXV=10.0, LXV=30.0),
     "AB", "image map 2 x 1 (x 1 .. 1.5 um, y 0 .. 0 um), 2 spectra of 3 points, x 10 .. 30 cm-1"),
    (data3d("TRC", [[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]], **GRID), "TRC", "trace map 2 x 1 (x 1 .. 1.5 um, y 2 .. 2 um), 3 traces, x 2 .. 1 cm-1"),
    (data3d("TR", [[1.0]], times=[4.5], ZTX="min"), "TR", "time-resolved series, 1 spectrum (time 4.5 .. 4.5 min)"),
    (data3d("TRC", [[1.0, 2.0]]), "TRC", "trace series, 1 trace, x 2 .. 1 cm-1"),
    ([data3d("AB", [[1.0], [2.0]]), annotation_block(anno_table(REGION_COLUMNS, region_rows(4, [(0, 0), (1, 1)],
                                                                                             first_index=0)))],
     "AB", "multi-region map, 1 region (2 points), x 1 .. 1 cm-1"),
])
def test_listing_describes_3d_blocks(write, capsys, blocks, name, text):
    assert main([write(opus(blocks))]) == 0
    line = next(l for l in capsys.readouterr().out.splitlines() if " 3D " in l)
    assert line.split(None, 3)[:3] == [name, "3D", "NONE"] and text in line


def test_demo_file_shows_a_map_and_a_series(capsys):
    assert main([str(DEMO_FILE)]) == 0
    out = capsys.readouterr().out
    assert "image map 6 x 5" in out and "time-resolved series, 12 spectra" in out
    assert main([str(DEMO_FILE.with_name("demo_regions.0"))]) == 0
    assert "multi-region map, 2 regions (4, 3 points)" in capsys.readouterr().out
