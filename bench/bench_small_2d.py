"""getOpusData on a small 2D file against the floor: one open(path, "rb").read().

A 7,000-point absorbance spectrum with six parameter blocks (data, acquisition,
instrument, optics, sample, FT), as a typical instrument writes.
"""

import math
import tempfile

from common import best_time, calls_for

import kestrel
from opusfile import ACQUISITION, FT, INSTRUMENT, OPTICS, SAMPLE, opus, params, spectrum


def make_file(path):
    values = [math.sin(i / 100.0) for i in range(7000)]
    blocks = spectrum("AB", values, FXV=7999.0, LXV=400.0, DAT="09/12/2026", TIM="10:00:00", SNM="bench")
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

        def read_floor():
            with open(path, "rb") as f:
                f.read()

        def read_kestrel():
            kestrel.getOpusData(path, request)

        n = calls_for(read_kestrel)
        floor = best_time(read_floor, number=n)
        ours = best_time(read_kestrel, number=n)
        print(f"small 2D file ({len(open(path, 'rb').read())} bytes, 7000 points, 6 parameter blocks)")
        print(f"  open().read():  {floor * 1e6:8.1f} us/call")
        print(f"  getOpusData:    {ours * 1e6:8.1f} us/call  ({1 / ours:,.0f} calls/s)")
        print(f"  ratio getOpusData / read floor: {ours / floor:.2f}x (target <= 3x)")


if __name__ == "__main__":
    main()
