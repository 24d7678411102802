"""Every subcommand against every kind of bad input: exit status 1, one message shape
("kestrel: FILE: what is wrong", no exception class names), and no output half-written or replaced."""

import contextlib
import importlib
import io
import os
import re
import shutil
import sys
import tempfile

import pytest

from kestrel_tools import DEMO_FILE
from kestrel_tools.cli.__main__ import main
from kestrel_tools.cli.grammar import COMMANDS as COMMAND_TABLE

COMMAND_MODULES = [command.module for command in COMMAND_TABLE.values()]

pytest.importorskip("matplotlib")

# subcommand -> (its arguments before the input, after it given the output folder, the output it writes)
COMMANDS = {
    "listing": ([], lambda out: ["--out", f"{out}/listing.txt"], "listing.txt"),
    "info": (["info"], lambda out: ["--json", "--out", f"{out}/info.json"], "info.json"),
    "plot": (["plot"], lambda out: ["--out", f"{out}/p.png"], "p.png"),
    "convert": (["convert"], lambda out: ["--to", "csv", "--out", out], "demo.0.csv"),
    "collect": (["collect"], lambda out: ["--out", f"{out}/t.csv", "--no-progress"], "t.csv"),
    "refs": (["refs"], lambda out: ["--out", f"{out}/refs.json"], "refs.json"),
}
WRITES_ALWAYS = ("plot", "convert", "collect", "refs")  # the listing and info write only with --out

CASES = {
    "missing file": lambda d: str(d / "absent.0"),
    "folder without OPUS files": lambda d: _folder(d / "notes", {"notes.txt": b"a note"}),
    "not an OPUS file": lambda d: _file(d / "notes.txt", b"root:x:0:0\n"),
    "cut file": lambda d: _file(d / "demo.0", DEMO_FILE.read_bytes()[:20000]),
    "empty folder": lambda d: _folder(d / "empty", {}),
    "glob matching nothing": lambda d: str(d / "nothing*.0"),
}
EXPECTED = {
    "missing file": "absent.0: no such file",
    "folder without OPUS files": "",
    "not an OPUS file": "notes.txt: not an OPUS file",
    "cut file": "demo.0: the file is cut short: it ends at byte 20000, inside block AB 2D NONE",
    "empty folder": "empty: the folder is empty",
    "glob matching nothing": "nothing*.0: no file matches this pattern",
}
LINE = re.compile(r"^kestrel: \S[^:]*: \S.*$")
CLASS_NAME = re.compile(r"\b\w*(Error|Exception|Warning)\b|Traceback|\berror: ")


def _file(path, data):
    path.write_bytes(data)
    return str(path)


def _folder(path, files):
    path.mkdir()
    for name, data in files.items():
        (path / name).write_bytes(data)
    return str(path)


def run(argv, user=None):
    """main(argv): its status and standard error; as `user`, in a forked child."""
    if user is None:
        err = io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
            status = main(argv)
        return status, err.getvalue()
    with tempfile.TemporaryFile() as err:
        pid = os.fork()
        if pid == 0:  # the child: report through the status only
            status = 70
            try:
                sys.stderr = open(err.fileno(), "w", closefd=False)
                sys.stdout = open(os.devnull, "w")
                if user is not None:
                    os.setgid(user)
                    os.setuid(user)
                status = main(argv)
            finally:
                sys.stderr.flush()
                os._exit(status)
        _, code = os.waitpid(pid, 0)
        err.seek(0)
        return os.waitstatus_to_exitcode(code), err.read().decode()


def check_messages(err):
    lines = [line for line in err.splitlines() if line.strip()]
    assert lines, "a failure must be said"
    for line in lines:
        assert LINE.match(line) and not CLASS_NAME.search(line), line


def snapshot(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir()} if folder.exists() else {}


@pytest.mark.parametrize("case", CASES)
@pytest.mark.parametrize("command", COMMANDS)
def test_bad_inputs(tmp_path, command, case):
    before, after, _ = COMMANDS[command]
    source = CASES[case](tmp_path)
    out = tmp_path / "out"
    status, err = run(before + [source] + (after(str(out)) if command in WRITES_ALWAYS else []))
    assert status == 1, err
    check_messages(err)
    assert EXPECTED[case] in err
    assert snapshot(out) == {}  # nothing written, not even in part


@pytest.fixture
def shared_folder():
    """A folder another user may enter (pytest's own temporary folders are private to root)."""
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o755)
    yield folder
    shutil.rmtree(folder)


@pytest.mark.filterwarnings("ignore:This process:DeprecationWarning")  # the child only runs main
@pytest.mark.parametrize("command", COMMANDS)
def test_output_folder_that_cannot_be_written(shared_folder, command):
    before, after, _ = COMMANDS[command]
    source = shutil.copy(DEMO_FILE, os.path.join(shared_folder, "demo.0"))
    os.chmod(source, 0o644)
    locked = os.path.join(shared_folder, "locked")
    os.mkdir(locked, 0o555)
    os.chmod(locked, 0o555)
    # The other user may not read this Python's files: what the command imports is imported now.
    for module in COMMAND_MODULES:
        importlib.import_module(module)
    # Root may write anywhere: the command then runs as an ordinary user.
    status, err = run(before + [source] + after(locked), user=65534 if os.geteuid() == 0 else None)
    assert status == 1, err
    check_messages(err)
    assert f"{locked}: cannot write into this folder: permission denied" in err
    assert os.listdir(locked) == []


@pytest.mark.parametrize("command", COMMANDS)
def test_existing_output_is_kept(tmp_path, command):
    before, after, target = COMMANDS[command]
    source = shutil.copy(DEMO_FILE, tmp_path / "demo.0")
    out = tmp_path / "out"
    out.mkdir()
    (out / target).write_bytes(b"mine")
    status, err = run(before + [str(source)] + after(str(out)))
    assert status == 1, err
    check_messages(err)
    assert "exists already; --force replaces it" in err
    assert snapshot(out) == {target: b"mine"}
    assert run(before + [str(source)] + after(str(out)) + ["--force"])[0] == 0
    assert (out / target).read_bytes() != b"mine" and [p.name for p in out.iterdir()] == [target]
