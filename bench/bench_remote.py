"""Files that are not on a local disk, measured side by side in one run:

- a whole map over HTTP from a local nginx (kestrel_tools through fsspec) against fsspec's own read of the
  same file's bytes over the same connection kind;
- the bytes nginx sent for a 1/16 window of that map, against the file's size;
- a map read from bytes in memory against the same map read from its local file;
- byte-range references for a map of 100,000 spectra, made and written as JSON.

Every read is checked against getOpusData. nginx is started on 127.0.0.1 on a free port and stopped at the
end (scripts/setup.sh installs it).

    .venv/bin/python bench/bench_remote.py
"""

import json
import os
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
from bench_xarray import patterned_rows, write_map
from common import ROOT, best_time

import kestrel
from kestrel_tools import _native
from kestrel_tools.byte_sources import opened
from kestrel_tools.references import references

sys.path.insert(0, str(ROOT / "tests" / "tools"))
import servers  # noqa: E402

BLOCK = ("AB", "3D", "NONE")


try:
    from common import target
except ImportError:  # the shared helper of scripts/bench.sh, before it lands
    def target(name, measured, limit):
        print(f"TARGET {name} {measured:.3f} <={limit:g} {'PASS' if measured <= limit else 'MISS'}", flush=True)


def side_by_side(first, second, rounds=9):
    """The best time of each over `rounds` rounds that run them one after the other (a load that comes and
    goes touches both alike)."""
    best = [float("inf"), float("inf")]
    for _ in range(rounds):
        for i, func in enumerate((first, second)):
            start = time.perf_counter()
            func()
            best[i] = min(best[i], time.perf_counter() - start)
    return best


def read_whole(source):
    with opened(source) as native:
        plan = _native.plan(native, BLOCK)
        out = np.empty(plan["shape"], np.float32)
        _native.read_window(native, BLOCK, [(0, n) for n in plan["shape"]], out)
    return out


def main():
    import fsspec

    folder = Path(tempfile.mkdtemp(prefix="kestrel-bench-remote-"))
    www = folder / "www"
    www.mkdir()
    path = www / "map.0"
    ny, nx, npt = 96, 96, 512
    write_map(path, ny, nx, npt, patterned_rows(nx, npt))
    size = path.stat().st_size
    expected = kestrel.getOpusData(str(path), BLOCK).spectra
    server = servers.start_nginx(www, folder / "nginx")
    try:
        url = f"{server.base}/map.0"
        fs = fsspec.filesystem("http")
        assert np.array_equal(read_whole(url), expected)
        ours, theirs = side_by_side(lambda: read_whole(url), lambda: fs.cat_file(url))
        server.reset()
        read_whole(url)
        ours_requests = len(server.requests())
        server.reset()
        fs.cat_file(url)
        print(f"whole map over HTTP ({size / 2**20:.1f} MiB): kestrel_tools {ours * 1e3:.1f} ms "
              f"({ours_requests} requests), "
              f"fsspec read of the bytes {theirs * 1e3:.1f} ms ({len(server.requests())} request)")
        target("http_whole_map_vs_fsspec_bytes", ours / theirs, 1.5)
        # The same bytes made into the map's array by numpy (the records gathered past their info
        # areas): what fsspec alone costs for the values, one copy included, as kestrel_tools makes it.
        storage = _native.plan(str(path), BLOCK)["storage"]
        (first, count, start), = storage["record_runs"]
        stride, npt = storage["stride"], storage["npt"]

        def gathered():
            data = np.frombuffer(fs.cat_file(url), np.uint8)
            rows = data[start:start + count * stride].reshape(count, stride)[:, :4 * npt]
            return np.ascontiguousarray(rows).view(np.float32).reshape(ny, nx, npt)

        assert first == 0 and count == ny * nx and np.array_equal(gathered(), expected)
        ours, values = side_by_side(lambda: read_whole(url), gathered)
        print(f"  against fsspec's bytes gathered into the array by numpy: {ours * 1e3:.1f} ms, "
              f"{values * 1e3:.1f} ms ({ours / values:.2f}x)")

        window = [(ny // 4, ny // 2), (nx // 4, nx // 2), (0, npt)]
        out = np.empty((ny // 4, nx // 4, npt), np.float32)
        server.reset()
        with opened(url) as native:
            _native.read_window(native, BLOCK, window, out)
        sent = server.sent()
        assert np.array_equal(out, expected[ny // 4:ny // 2, nx // 4:nx // 2])
        print(f"1/16 window over HTTP: {sent} bytes sent of {size} ({len(server.requests())} requests), "
              f"the window holds {out.nbytes}")
        target("http_window_1/16_bytes_sent_share", sent / size, 1 / 8)
    finally:
        server.stop()

    data = path.read_bytes()
    assert np.array_equal(read_whole(data), expected)
    memory, local = side_by_side(lambda: read_whole(data), lambda: read_whole(str(path)), rounds=15)
    print(f"whole map: from bytes {memory * 1e3:.1f} ms, from the local file {local * 1e3:.1f} ms")
    target("read_from_bytes_vs_local_file", memory / local, 1.1)

    big = folder / "hundred_thousand.0"
    write_map(big, 250, 400, 8, patterned_rows(400, 8))
    out_json = folder / "refs.json"

    def make_refs():
        out_json.write_text(json.dumps(references(big)))

    seconds = best_time(make_refs, repeat=3)
    chunks = sum(1 for k in json.loads(out_json.read_text())["refs"] if k.startswith("AB_3D_NONE/spectra/") and "/." not in k)
    print(f"references for 100,000 spectra: {seconds:.3f} s, {chunks} chunks, {out_json.stat().st_size / 2**20:.1f} MiB")
    target("references_100k_spectra_seconds", seconds, 1.0)
    for p in (big, out_json, path):
        os.remove(p)


if __name__ == "__main__":
    start = time.perf_counter()
    main()
    print(f"({time.perf_counter() - start:.1f} s in all)")
