"""The listing (`kestrel FILE`) and `kestrel info` against reading the file's largest block, side by side
in one run: a map of 128 x 128 positions of 2,000 points (128 MiB of float32) beside a spectrum, and the
same map transposed. Target: a listing costs at most 1/20 of reading its largest block. The map read is
checked against what was written; the listing must name the map's grid."""

import contextlib
import io
import os
import tempfile

import numpy as np
from common import best_time

import kestrel
from kestrel_tools.cli.__main__ import main
from opusfile import image_map, opus, spectrum

TARGET = 1 / 20


def write_map(path, side=128, npt=2000, transposed=False):
    cube = np.random.default_rng(5).random((side, side, npt), dtype=np.float32)
    blocks = image_map("AB", cube.tolist(), transposed=transposed, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0,
                       FXV=4000.0, LXV=400.0)
    with open(path, "wb") as f:
        f.write(opus(spectrum("AB", cube[0, 0].tolist()), blocks))
    return cube


def quiet(argv):
    with contextlib.redirect_stdout(io.StringIO()) as out:
        status = main(argv)
    assert status == 0
    return out.getvalue()


def measure(path, cube):
    block = ("AB", "3D", "NONE")
    np.testing.assert_array_equal(kestrel.getOpusData(path, block).spectra, cube)
    assert f"image map {cube.shape[1]} x {cube.shape[0]}" in quiet([path])
    read = best_time(lambda: kestrel.getOpusData(path, block), repeat=3)
    listing = best_time(lambda: quiet([path]), repeat=5)
    info = best_time(lambda: quiet(["info", path, "--json"]), repeat=5)
    return read, listing, info


def main_bench():
    with tempfile.TemporaryDirectory() as tmp:
        for transposed in (False, True):
            path = os.path.join(tmp, "map.0")
            cube = write_map(path, transposed=transposed)
            read, listing, info = measure(path, cube)
            name = "transposed map" if transposed else "map"
            for what, seconds in (("listing", listing), ("info --json", info)):
                ratio = seconds / read
                print(f"{what:<12} of a 128 MiB {name:<14}: {seconds * 1e3:7.1f} ms against a read of "
                      f"{read * 1e3:7.1f} ms = {ratio:.3f} (target <= {TARGET:.3f}) "
                      f"{'PASS' if ratio <= TARGET else 'MISS'}")


if __name__ == "__main__":
    main_bench()
