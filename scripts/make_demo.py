"""Writes the bundled demo file src/kestrel_tools/data/demo.0 with the test writer.

A small mid-infrared absorbance measurement: sample and reference single
channels, the absorbance spectrum, the parameter blocks that describe them, and
two small pictures of the sample from the visible-light camera. Beside it, a
6 x 5 absorbance map of the film (one record per position) and a transmittance
series of twelve spectra taken while it cures.

A multi-region point map goes into a file of its own, src/kestrel_tools/data/demo_regions.0:
an annotation block makes every 3D block without a map grid in its file a
multi-region map, so it cannot share a file with a time-resolved series.

`make_demo.py --folder DIR` writes, instead, a folder of small files for the
demo's collection: the absorbance spectrum of the film every ten minutes while
it cures, one file each, with its acquisition time.
"""

import math
import pathlib
import sys

root = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(root / "tests"))

from opusfile import (ACQUISITION, FT, INSTRUMENT, OPTICS, REGION_COLUMNS, SAMPLE, Picture, anno_table,  # noqa: E402
                      annotation_block, bmp, data3d, image_block, image_map, opus, params, png, region_rows,
                      spectrum)


def band(x, centre, width, height):
    return height * math.exp(-((x - centre) / width) ** 2)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--folder":
        return curing_folder(pathlib.Path(sys.argv[2]))
    npt = 1800
    first, last = 3999.6, 400.2
    xs = [first + (last - first) * i / (npt - 1) for i in range(npt)]
    absorbance = [0.02 + band(x, 2920, 18, 0.85) + band(x, 2850, 14, 0.6) + band(x, 1740, 12, 1.1)
                  + band(x, 1465, 10, 0.35) + band(x, 720, 6, 0.2) for x in xs]
    reference = [1.0 + 0.4 * math.sin(i / 300.0) for i in range(npt)]
    sample = [r * 10 ** (-a) for r, a in zip(reference, absorbance)]
    common = dict(FXV=first, LXV=last, DXU="WN", DAT="09/12/2026", TIM="10:15:00.000 (GMT+1)")
    blocks = [
        spectrum("SSC", sample, **common),
        spectrum("RSC", reference, **common),
        spectrum("AB", absorbance, **common),
        params(kind=INSTRUMENT, sample=0, INS="Demo FT-IR", LWN=15798.0, HFW=4000.0, LFW=400.0, RES=4.0),
        params(kind=ACQUISITION, NSS=32, NSR=32, RES=4.0, APT="1.5 mm"),
        params(kind=OPTICS, sample=0, BMS="KBr", DTC="DTGS", SRC="MIR"),
        params(kind=SAMPLE, SNM="Polyethylene film", SFM="film", CNM="Demo"),
        params(kind=FT, APF="B3", PHZ="ME", ZFF=2),
        image_block(
            Picture(bmp(24, 16, (200, 180, 120)), title="Overview",
                    attrs=[("Pos. X:", 33733.0), ("Pos. Y:", 21410.5), ("Magnification:", 4)]),
            Picture(png(32, 24, (90, 140, 60)), title="Measurement spot",
                    attrs=[("Pos. X:", 33740.0), ("Pos. Y:", 21402.0), ("Magnification:", 15)]),
        ),
    ]
    write(root / "src" / "kestrel_tools" / "data" / "demo.0", opus(blocks, absorbance_map(), curing_series()))
    write(root / "src" / "kestrel_tools" / "data" / "demo_regions.0", opus(region_map()))


def write(out, data):
    out.write_bytes(data)
    print(f"wrote {out} ({len(data)} bytes)")


# The 3D blocks: 200 points of the C-H stretching region.
NPT3D = 200
FIRST3D, LAST3D = 3100.0, 2700.0


def xs3d():
    return [FIRST3D + (LAST3D - FIRST3D) * i / (NPT3D - 1) for i in range(NPT3D)]


def film(thickness, shift=0.0):
    return [thickness * (band(x, 2920 + shift, 18, 0.85) + band(x, 2850 + shift, 14, 0.6)) + 0.01 for x in xs3d()]


def absorbance_map():
    cube = [[film(0.6 + 0.1 * r + 0.05 * c + 0.02 * ((r * 7 + c * 3) % 5)) for c in range(6)] for r in range(5)]
    return image_map("AB", cube, AOX=-250.0, AOY=100.0, DDX=50.0, DDY=-50.0, FXV=FIRST3D, LXV=LAST3D,
                     DXU="WN", DAT="09/12/2026", TIM="10:32:40.000 (GMT+1)")


def curing_series():
    spectra = [[10 ** -a for a in film(1.0 - 0.04 * k, shift=-0.3 * k)] for k in range(12)]
    return data3d("TR", spectra, times=[30.0 * k for k in range(12)], FXV=FIRST3D, LXV=LAST3D, DXU="WN", ZTX="s",
                  DAT="09/12/2026", TIM="11:05:00.000 (GMT+1)")


def curing_folder(folder):
    folder.mkdir(parents=True, exist_ok=True)
    for k in range(6):
        blocks = [
            spectrum("AB", film(1.0 - 0.06 * k, shift=-0.4 * k), FXV=FIRST3D, LXV=LAST3D, DXU="WN",
                     DAT="09/12/2026", TIM=f"11:{10 * k:02d}:00.000 (GMT+1)"),
            params(kind=INSTRUMENT, sample=0, INS="Demo FT-IR", RES=4.0),
            params(kind=ACQUISITION, NSS=16, RES=4.0),
            params(kind=SAMPLE, SNM=f"Polyethylene film, cure {10 * k} min", SFM="film", CNM="Demo"),
        ]
        out = folder / f"film_{10 * k:02d}min.0"
        out.write_bytes(opus(blocks))
    print(f"wrote 6 spectra into {folder}")


def region_map():
    """Three regions of a point map: a 2 x 2 grid, three free points and one point left out (Type 1)."""
    points = [(0.0, 0.0), (20.0, 0.0), (0.0, 20.0), (20.0, 20.0)]
    rows = (region_rows(1, points, nx=2, ny=2, first_index=0)
            + region_rows(2, [(500.0, 120.0), (530.0, 140.0), (560.0, 160.0)], first_index=4)
            + region_rows(3, [(900.0, 900.0)], row_type=1, first_index=7))
    spectra = [film(0.5 + 0.1 * k, shift=0.5 * k) for k in range(8)]
    return [data3d("AB", spectra, times=[12.0 * k for k in range(8)], FXV=FIRST3D, LXV=LAST3D, DXU="WN",
                   DAT="10/12/2026", TIM="14:20:00.000 (GMT+1)"),
            annotation_block(anno_table(REGION_COLUMNS, rows))]


if __name__ == "__main__":
    main()
