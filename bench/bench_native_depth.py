"""How much of a file kestrel_tools._native reads for a description, side by side in one run: on a
series of 50,000 records and on one of about 41 MB, parameters() and plan(times=False) against the full
plan and getOpusData (time, and bytes read through _native); on the real sample files, parameters() of
each file's primary block against getOpusData of it. The values written are checked on the way.

    .venv/bin/python bench/bench_native_depth.py
"""

import os
import pathlib
import struct
import tempfile

import numpy as np
from common import best_time

import kestrel
from kestrel_tools import _native, primary_block
from opusfile import EXT_3D, INFO_SIZE, INFO_TIME, data_block, opus, params

BLOCK = ("AB", "3D", "NONE")
# ../shared beside the checkout, or KESTREL_SAMPLES.
SAMPLES = pathlib.Path(os.environ.get("KESTREL_SAMPLES")
                       or pathlib.Path(__file__).resolve().parents[2] / "shared" / "opus-samples")


def write_series(path, records, npt):
    """A series of `records` spectra of `npt` points, record k holding k and timed 0.5 * k."""
    table = struct.pack("<6i", 1, records, 32, 4 * npt, INFO_SIZE, 1) + struct.pack("<ii", 0, records - 1)
    p = dict(NPT=npt, FXV=4000.0, LXV=400.0, MNY=0.0, MXY=1.0, DXU="WN")
    size = 4 * npt + INFO_SIZE
    head = opus(params(p, name="AB", extend=EXT_3D),
                data_block("AB", table, extend=EXT_3D, size_words=(len(table) + records * size) // 4))
    body = np.zeros((records, size), dtype=np.uint8)
    body[:, :4 * npt] = np.repeat(np.arange(records, dtype="<f4")[:, None], npt, axis=1).view(np.uint8)
    body[:, 4 * npt + INFO_TIME:4 * npt + INFO_TIME + 8] = (0.5 * np.arange(records, dtype="<f8"))[:, None].view(
        np.uint8)
    with open(path, "wb") as f:
        f.write(head)
        f.write(body.tobytes())


def read(call):
    before = _native._bytes_read()
    result = call()
    return result, _native._bytes_read() - before


def series_line(path, records):
    size = os.path.getsize(path)
    eager = kestrel.getOpusData(path, BLOCK)
    assert eager.spectra.shape[0] == records and eager.z[-1] == 0.5 * (records - 1)
    assert eager.spectra[-1, 0] == records - 1
    params_got, params_bytes = read(lambda: _native.parameters(path, BLOCK))
    assert params_got == eager.parameters
    bare, bare_bytes = read(lambda: _native.plan(path, BLOCK, times=False))
    full, full_bytes = read(lambda: _native.plan(path, BLOCK))
    assert bare["z"] is None and full["z"].tobytes() == eager.z.tobytes()
    t_eager = best_time(lambda: kestrel.getOpusData(path, BLOCK), repeat=3)
    t_params = best_time(lambda: _native.parameters(path, BLOCK))
    t_bare = best_time(lambda: _native.plan(path, BLOCK, times=False))
    t_full = best_time(lambda: _native.plan(path, BLOCK), repeat=3)
    print(f"series {records} records, {size / 1e6:.1f} MB: getOpusData {t_eager * 1e3:.1f} ms; "
          f"parameters {t_params * 1e3:.2f} ms ({t_params / t_eager:.4f}x), {params_bytes} bytes read; "
          f"plan(times=False) {t_bare * 1e3:.2f} ms ({t_bare / t_eager:.4f}x), {bare_bytes} bytes "
          f"({100 * bare_bytes / size:.3f}% of the file); plan {t_full * 1e3:.1f} ms, {full_bytes} bytes")


def samples_line():
    files = sorted(p for p in SAMPLES.rglob("*") if p.is_file() and p.suffix[1:].isdigit())
    ratios = []
    for path in files:
        try:
            block = primary_block(str(path))
            eager = kestrel.getOpusData(str(path), block)
        except Exception:  # noqa: BLE001 - files without a readable primary block are passed over
            continue
        assert _native.parameters(str(path), block) == eager.parameters
        t_eager = best_time(lambda: kestrel.getOpusData(str(path), block), repeat=3)
        t_params = best_time(lambda: _native.parameters(str(path), block), repeat=3)
        ratios.append(t_params / t_eager)
    if ratios:
        print(f"{len(ratios)} real files: parameters / getOpusData of the primary block: median "
              f"{np.median(ratios):.3f}x, worst {max(ratios):.3f}x")


def main():
    with tempfile.TemporaryDirectory(prefix="kestrel-bench-depth-") as folder:
        for records, npt in ((50_000, 64), (40_000, 200)):
            path = os.path.join(folder, f"series{records}.0")
            write_series(path, records, npt)
            series_line(path, records)
    samples_line()


if __name__ == "__main__":
    main()
