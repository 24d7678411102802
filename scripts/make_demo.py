"""Writes the bundled demo file kestrel_cli/demo.0 with the test writer.

A small mid-infrared absorbance measurement: sample and reference single
channels, the absorbance spectrum, the parameter blocks that describe them, and
two small pictures of the sample from the visible-light camera.
"""

import math
import pathlib
import sys

root = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(root / "tests"))

from opusfile import (ACQUISITION, FT, INSTRUMENT, OPTICS, SAMPLE, Picture, bmp, image_block, opus,  # noqa: E402
                      params, png, spectrum)


def band(x, centre, width, height):
    return height * math.exp(-((x - centre) / width) ** 2)


def main():
    npt = 1800
    first, last = 3999.6, 400.2
    xs = [first + (last - first) * i / (npt - 1) for i in range(npt)]
    absorbance = [0.02 + band(x, 2920, 18, 0.85) + band(x, 2850, 14, 0.6) + band(x, 1740, 12, 1.1)
                  + band(x, 1465, 10, 0.35) + band(x, 720, 6, 0.2) for x in xs]
    reference = [1.0 + 0.4 * math.sin(i / 300.0) for i in range(npt)]
    sample = [r * 10 ** (-a) for r, a in zip(reference, absorbance)]
    common = dict(FXV=first, LXV=last, DXU="WN", DAT="09/12/2026", TIM="10:15:00.000 (GMT+1)")
    data = opus(
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
    )
    out = root / "kestrel_cli" / "demo.0"
    out.write_bytes(data)
    print(f"wrote {out} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
