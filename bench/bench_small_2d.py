"""isOpusFile, listContents and getOpusData on a small 2D file against the floor: one open(path, "rb").read().

A 7,000-point absorbance spectrum with six parameter blocks (data, acquisition, instrument, optics,
sample, FT), as a typical instrument writes. Each call is timed alone, interleaved with one read of the
floor, and the medians compared: what a caller pays per call, fixed costs included. The results are
checked against what was written.
"""

import math
import tempfile

import numpy as np
from common import median_ratio, target

import kestrel
from opusfile import ACQUISITION, FT, INSTRUMENT, OPTICS, SAMPLE, opus, params, spectrum

VALUES = [math.sin(i / 100.0) for i in range(7000)]


def make_file(path):
    blocks = spectrum("AB", VALUES, FXV=7999.0, LXV=400.0, DAT="09/12/2026", TIM="10:00:00", SNM="bench")
    blocks += [params(kind=ACQUISITION, NSS=32, RES=4.0, APT="1 mm", AQM="DD", HFW=8000.0, LFW=400.0),
               params(kind=INSTRUMENT, sample=0, INS="bench", LWN=15798.0, SRT=0.0, DUR=10.0, HUM=0.0),
               params(kind=OPTICS, sample=0, BMS="KBr", DTC="DTGS", SRC="MIR", VEL="10 kHz", APT="1 mm"),
               params(kind=SAMPLE, SNM="bench", SFM="film", CNM="bench"),
               params(kind=FT, APF="B3", PHZ="ME", ZFF=2, HFQ=8000.0, LFQ=400.0, PHR=32.0)]
    with open(path, "wb") as f:
        f.write(opus(blocks))


def main():
    with tempfile.NamedTemporaryFile(suffix=".0") as tmp:
        make_file(tmp.name)
        path = tmp.name
        request = ("AB", "2D", "NONE")
        r = kestrel.getOpusData(path, request)
        assert r.y.tobytes() == np.asarray(VALUES, np.float32).tobytes(), "the values differ from what was written"
        assert kestrel.isOpusFile(path) and kestrel.listContents(path) == [("AB", "2D", "NONE")]

        def read_floor():
            with open(path, "rb") as f:
                f.read()

        calls = {
            "isOpusFile": lambda: kestrel.isOpusFile(path),
            "listContents": lambda: kestrel.listContents(path),
            "getOpusData": lambda: kestrel.getOpusData(path, request),
        }
        size = len(open(path, "rb").read())
        print(f"small 2D file ({size} bytes, 7000 points, 6 parameter blocks); medians of single calls")
        for name, call in calls.items():
            for _ in range(200):  # warm up: the first calls pay for imports and caches
                call()
            ours, floor = median_ratio(call, read_floor, rounds=2001)
            print(f"  {name:<13} {ours * 1e6:8.1f} us/call   open().read() {floor * 1e6:6.1f} us   "
                  f"ratio {ours / floor:.2f}x (target <= 3x)")
            target(f"small_2d_{name}_vs_read", ours / floor, 3.0)


if __name__ == "__main__":
    main()
