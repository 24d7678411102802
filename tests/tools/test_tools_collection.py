"""read_collection: rows in input order, per-file failures with getOpusData's own errors, axes, pickling."""

import os
import pathlib
import pickle
import signal
import sys

import numpy as np
import pytest

import kestrel
from kestrel_tools import read_collection
from opusfile import data3d, data_block, floats, opus, params, spectrum

SAMPLES = pathlib.Path(__file__).resolve().parents[3] / "shared" / "opus-samples"
rng = np.random.default_rng(7)


def good(values, FXV=4000.0, LXV=400.0, name="AB", **extra):
    return opus(spectrum(name, list(values), FXV=FXV, LXV=LXV, DAT="01/02/2020", TIM="10:00:00 (GMT+1)",
                         SNM="s", **extra))


def reason_of(call):
    try:
        call()
    except Exception as error:  # noqa: BLE001
        return f"{type(error).__name__}: {error}"
    raise AssertionError("no error")


@pytest.fixture
def folder(tmp_path):
    """Good files and every kind of bad input, in a folder; returns (folder, good rows, expected failures)."""
    rows = rng.normal(size=(4, 16)).astype(np.float32)
    whole = good(rows[0])
    short = opus(spectrum("AB", rows[0].tolist(), FXV=4000.0, LXV=400.0, params_first=True))
    files = {
        "0_notes.txt": b"not a spectrum",                                  # first, before any good file
        "a.0": good(rows[0]),
        "b.1": good(rows[1]),
        "c.0": whole[: len(whole) - 40],                                   # cut inside its parameters
        "d.0": short[: len(short) - 20],                                   # cut inside its values
        "e.0": good(rows[2], FXV=4000.0 * (1 + 1e-6)),                     # another x axis
        "f.0": good(rows[2], FXV=4000.0 * (1 + 1e-12)),                    # the same axis, rounded
        "g.0": good(rows[3], name="SSC"),                                  # no AB: its single channel
        "h.0": opus(data3d("AB", rows[:2].tolist(), FXV=4000.0, LXV=400.0)),  # a map only
        "i.0": good(rows[0][:8]),                                          # fewer points
        "k.0": good(rows[1], NPT=16.0),                                    # numpy refuses a float NPT
        "m.0": opus(data_block("AB", floats(rows[1])),                     # MNY missing
                    params(dict(NPT=16, FXV=4000.0, LXV=400.0, MXY=1.0), name="AB")),
    }
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
    (tmp_path / ".DS_Store").write_bytes(b"hidden: left out")
    os.mkfifo(tmp_path / "l.0")                                            # must not hang the batch
    (tmp_path / "j.0").mkdir()                                             # a folder named like a file
    (tmp_path / "subfolder").mkdir()
    (tmp_path / "subfolder" / "k.0").write_bytes(good(rows[1]))
    p = {name: str(tmp_path / name) for name in [*files, "j.0", "l.0"]}
    axis = ("the x axis ({} points from {} to 400.0 cm-1) differs from the collection's (16 points from 4000.0 to "
            "400.0 cm-1): axis='common' puts every file on the range all of them cover")
    failed = [
        (p["0_notes.txt"], "ValueError: Can't process a non-Opus file"),
        (p["c.0"], reason_of(lambda: kestrel.getOpusData(p["c.0"], ("AB", "2D", "NONE")))),
        (p["d.0"], "ValueError: the data block ends after 11 of 16 values (the file is cut short)"),
        (p["e.0"], "ValueError: " + axis.format(16, 4000.0 * (1 + 1e-6))),
        (p["g.0"], "ValueError: the file holds a single channel in cm-1 (SSC 2D NONE) where most files hold "
                   "absorbance spectra in cm-1: block=('SSC', '2D', 'NONE') collects single channels"),
        (p["h.0"], "ValueError: the file holds no 2D data block, only maps or series (AB 3D NONE): a collection holds"
                   " one spectrum per file; xarray.open_mfdataset(paths, engine='kestrel', combine='nested', "
                   "concat_dim='file') stacks maps of one shape"),
        (p["i.0"], "ValueError: " + axis.format(8, 4000.0)),
        (p["k.0"], reason_of(lambda: kestrel.getOpusData(p["k.0"], ("AB", "2D", "NONE")))),
        (p["m.0"], "KeyError: 'MNY'"),
    ]
    expected = [(p["a.0"], rows[0]), (p["b.1"], rows[1]), (p["f.0"], rows[2])]
    return tmp_path, expected, failed


@pytest.mark.parametrize("workers", [1, 2])
def test_folder_with_bad_input(folder, workers):
    """Every good file in its row, in order; each bad one in `failed` with the reason getOpusData gives."""
    path, expected, failed = folder
    seen = []
    c = read_collection(path, workers=workers, progress=lambda done, total: seen.append((done, total)))
    assert c.files == [f for f, _ in expected]
    assert c.spectra.dtype == np.float32 and c.spectra.flags.c_contiguous and c.spectra.flags.owndata
    assert np.array_equal(c.spectra, np.stack([row for _, row in expected]))
    assert c.blocks == [("AB", "2D", "NONE")] * 3
    assert c.failed == failed
    assert c.passed_over == [str(path / "j.0"), str(path / "l.0")]  # a folder named like a file, a FIFO
    assert np.array_equal(c.x, np.linspace(4000.0, 400.0, 16))
    assert seen[0] == (0, 12) and seen[-1] == (12, 12)
    recursive = read_collection(path, recursive=True, workers=workers)
    assert recursive.files == c.files + [str(path / "subfolder" / "k.0")]


def test_on_error_raise_and_skip(folder):
    """raise: the first failure in input order, its own type, a note naming the file; skip: nothing listed."""
    path, expected, failed = folder
    with pytest.raises(ValueError) as caught:
        read_collection(path, on_error="raise")
    assert str(caught.value) == "Can't process a non-Opus file"
    assert caught.value.__notes__ == [f"while reading {failed[0][0]} into a collection"]
    files = [f for f, _ in expected[:2]] + [str(path / "j.0")] + [expected[2][0]]
    with pytest.raises(IsADirectoryError):
        read_collection(files, on_error="raise", workers=2)
    skipped = read_collection(path, on_error="skip")
    assert skipped.failed == [] and len(skipped.files) == 3


@pytest.mark.skipif(sys.platform != "linux" or not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_unreadable_file_fails_alone(tmp_path):
    """A file without read permission fails with PermissionError; the others are read. As root,
    permissions do not stop a read, so a forked child drops to an unprivileged user first."""
    folder = pathlib.Path("/tmp") / f"kestrel-perm-{os.getpid()}"
    folder.mkdir(mode=0o755)
    try:
        (folder / "a.0").write_bytes(good([1.0, 2.0]))
        (folder / "b.0").write_bytes(good([3.0, 4.0]))
        os.chmod(folder / "b.0", 0o000)
        read_collection(folder, workers=1)  # every module loaded before the fork
        if os.geteuid() != 0:
            c = read_collection(folder, workers=1)
            result = (c.files, c.failed)
        else:
            reader, writer = os.pipe()
            pid = os.fork()
            if pid == 0:  # the child: never returns into pytest
                try:
                    signal.alarm(30)  # a lock inherited mid-use must not hang the run: the child just dies
                    os.setgid(65534)
                    os.setuid(65534)
                    c = read_collection(folder, workers=1)
                    os.write(writer, pickle.dumps((c.files, c.failed)))
                finally:
                    os._exit(0)
            os.close(writer)
            with os.fdopen(reader, "rb") as f:
                data = f.read()
            os.waitpid(pid, 0)
            if not data:
                pytest.skip("could not drop privileges in a child process")
            result = pickle.loads(data)
        assert result == ([str(folder / "a.0")],
                          [(str(folder / "b.0"), f"PermissionError: [Errno 13] Permission denied: '{folder / 'b.0'}'")])
    finally:
        for f in folder.iterdir():
            f.unlink()
        folder.rmdir()


def test_interpolation_onto_an_axis(tmp_path):
    """Each spectrum is interpolated onto the given axis, whatever its own axis; NaN outside its range."""
    a, b = tmp_path / "a.0", tmp_path / "b.0"
    a.write_bytes(good([0.0, 10.0, 20.0], FXV=0.0, LXV=20.0))
    b.write_bytes(good([5.0, 3.0, 1.0, -1.0], FXV=30.0, LXV=0.0))  # descending
    target = np.array([-1.0, 0.0, 5.0, 15.0, 25.0])
    c = read_collection([a, b], axis=target)
    assert c.x is not None and np.array_equal(c.x, target)
    expected = np.array([[np.nan, 0.0, 5.0, 15.0, np.nan], [np.nan, -1.0, 0.0, 2.0, 4.0]], np.float32)
    np.testing.assert_allclose(c.spectra, expected, equal_nan=True)


@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
def test_pickle_info_tables(tmp_path):
    """A Collection pickles; info is read lazily per row; to_pandas keeps the matrix; to_xarray is labelled."""
    values = rng.normal(size=(3, 5)).astype(np.float32)
    paths = []
    for i, row in enumerate(values):
        paths.append(tmp_path / f"s{i}.0")
        paths[-1].write_bytes(good(row, CNM=f"op{i}"))
    c = read_collection(paths)
    back = pickle.loads(pickle.dumps(c))
    assert np.array_equal(back.spectra, c.spectra) and back.files == c.files and back.failed == []
    assert [i.operator for i in back.info] == ["op0", "op1", "op2"]
    frame = c.to_pandas()
    assert list(frame.columns[:3]) == ["file", "block", "acquired"] and frame.shape == (3, 12 + 5)
    assert np.shares_memory(frame[c.x[0]].to_numpy(), c.spectra)
    assert str(frame["acquired"].iloc[0]) == "2020-02-01 09:00:00+00:00"
    array = c.to_xarray()
    assert array.dims == ("file", "wavenumber") and array.coords["operator"].values.tolist() == ["op0", "op1", "op2"]
    assert array.coords["wavenumber"].attrs["units"] == "cm-1"



@pytest.mark.filterwarnings("ignore::kestrel_tools.MetadataWarning")
@pytest.mark.parametrize("dxu, name", [("WN", "wavenumber"), ("PNT", "data_point"), ("XYZ", "abscissa")])
def test_spectral_axis_is_named_as_for_a_result(tmp_path, dxu, name):
    """A Collection's spectral axis has the name and attributes to_xarray gives the file's own spectrum."""
    from kestrel_tools import to_xarray
    path = tmp_path / "s.0"
    path.write_bytes(good([1.0, 2.0, 3.0], DXU=dxu))
    one = to_xarray(kestrel.getOpusData(str(path), ("AB", "2D", "NONE")))
    array = read_collection([path]).to_xarray()
    assert array.dims == ("file", name) and one.dims == (name,)
    assert array[name].attrs == one[name].attrs

@pytest.mark.parametrize("kwargs, message", [
    (dict(block=("AB", "3D", "NONE")), "is not a 2D block"),
    (dict(block=("XY", "2D", "NONE")), "is not a block getOpusData reads"),
    (dict(block="first"), "block must be 'auto'"),
    (dict(block="AB 3D NONE"), "is not a 2D block"),
    (dict(axis="union"), "axis must be 'same'"),
    (dict(axis=[[1.0]]), "axis must be 'same', 'common' or a 1-D array"),
    (dict(on_error="ignore"), "on_error must be"),
])
def test_bad_arguments(kwargs, message):
    with pytest.raises(ValueError, match=message):
        read_collection([], **kwargs)


@pytest.mark.skipif(not SAMPLES.is_dir(), reason="no sample files")
def test_real_files():
    """Real files: rows equal getOpusData's y; a whole tree interpolated loses only the unreadable files."""
    c = read_collection(str(SAMPLES / "spectrochempy" / "test.000*"), workers=2)
    assert len(c.files) == 4 and c.failed == []
    for path, row in zip(c.files, c.spectra):
        assert np.array_equal(row, kestrel.getOpusData(path, ("AB", "2D", "NONE")).y)
    tree = read_collection(SAMPLES, recursive=True, axis=np.linspace(4000.0, 1000.0, 301))
    # Interpolation never mixes kinds: the tree holds its absorbance spectra; other kinds are
    # left out with the block that collects them, and only two files cannot be read at all.
    unreadable = sorted(pathlib.Path(p).name for p, why in tree.failed if "where most files hold" not in why)
    assert unreadable == ["SOURCES.md", "md20220409s0e00a.0200"]
    assert tree.y_kind == "absorbance" and len(tree.files) >= 16
    same = read_collection(SAMPLES, recursive=True)
    assert len(same.files) + len(same.failed) == len(tree.files) + len(tree.failed)
