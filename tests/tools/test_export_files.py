"""Output files on a full disk and over files already there: every export format fails with an
OSError (never a crash) under a file-size limit, keeps the older file whole, leaves no temporary
file, and a replaced output keeps its permissions."""

import os
import stat
import subprocess
import sys
import textwrap

import pytest

from kestrel_tools import DEMO_FILE

pytest.importorskip("pyarrow")
pytest.importorskip("h5netcdf")

# writer, block, suffix: outputs of several kilobytes each
FORMATS = [("write_csv", ("AB", "3D", "NONE"), "csv"), ("write_parquet", ("AB", "3D", "NONE"), "parquet"),
           ("write_netcdf", ("AB", "3D", "NONE"), "nc"), ("write_jcamp", ("AB", "2D", "NONE"), "jdx")]
IDS = [f[2] for f in FORMATS]

CHILD = textwrap.dedent("""
    import resource, signal, sys
    import kestrel
    from kestrel_tools import export
    writer, block, target, limit = sys.argv[1], tuple(sys.argv[2:5]), sys.argv[5], int(sys.argv[6])
    result = kestrel.getOpusData({demo!r}, block)
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # over the limit, write() fails with EFBIG
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    try:
        getattr(export, writer)(result, target)
    except OSError as error:
        print("OSError", error.errno)
    else:
        print("written")
""").format(demo=str(DEMO_FILE))


@pytest.mark.skipif(not hasattr(os, "fork") or sys.platform == "darwin", reason="RLIMIT_FSIZE on Linux")
@pytest.mark.parametrize("writer, block, suffix", FORMATS, ids=IDS)
def test_a_file_size_limit_is_an_oserror_and_keeps_the_old_file(tmp_path, writer, block, suffix):
    target = tmp_path / f"out.{suffix}"
    target.write_text("old")
    run = subprocess.run([sys.executable, "-c", CHILD, writer, *block, str(target), "2048"],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, (run.returncode, run.stderr[-2000:])
    assert run.stdout.split() == ["OSError", "27"], run.stdout + run.stderr[-2000:]
    assert target.read_text() == "old"
    assert sorted(p.name for p in tmp_path.iterdir()) == [target.name]


@pytest.mark.parametrize("writer, block, suffix", FORMATS, ids=IDS)
def test_a_replaced_output_keeps_its_permissions(tmp_path, writer, block, suffix):
    import kestrel
    from kestrel_tools import export

    result = kestrel.getOpusData(str(DEMO_FILE), block)
    target = tmp_path / f"out.{suffix}"
    target.write_text("old")
    os.chmod(target, 0o600)
    getattr(export, writer)(result, target)
    assert stat.S_IMODE(os.stat(target).st_mode) == 0o600 and target.read_bytes() != b"old"
    os.chmod(target, 0o640)
    getattr(export, writer)(result, target)
    assert stat.S_IMODE(os.stat(target).st_mode) == 0o640
