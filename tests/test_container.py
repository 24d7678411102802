"""isOpusFile and listContents over the header, directory and 64-bit extension."""

import os
import pathlib
import struct
import tracemalloc

import pytest

import kestrel
from conftest import sample_files
from opusfile import (EXT_3D, MAGIC, Block, block_word, data_block, floats, opus, params, spectrum)


def entry(**fields):
    """A bare directory entry with an empty payload."""
    return Block(b"", **fields)


@pytest.mark.parametrize("data, expected", [
    (MAGIC, True), (MAGIC + b"rest", True), (b"\xfe\xfe\x0a\x0a", False),
    (b"", False), (b"\x0a\x0a\xfe", False), (b"\x00" * 32, False),
])
def test_is_opus_file(write, data, expected):
    assert kestrel.isOpusFile(write(data)) is expected


class PathLike:
    """An os.PathLike that is not a pathlib path."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path

    def __repr__(self):
        return f"PathLike({self.path!r})"


@pytest.mark.parametrize("path, error", [
    ("/nonexistent/kestrel.0", FileNotFoundError), ("/", IsADirectoryError), (None, TypeError), (3.5, TypeError),
    (pathlib.Path("/nonexistent/kestrel.0"), FileNotFoundError), (pathlib.Path("/"), IsADirectoryError),
    (PathLike("/nonexistent/kestrel.0"), FileNotFoundError), (PathLike(b"/"), IsADirectoryError),
    (PathLike(3), TypeError), (b"/nonexistent/kestrel.0", FileNotFoundError),
], ids=repr)
@pytest.mark.parametrize("func", ["isOpusFile", "listContents"])
def test_open_errors_are_pythons(func, path, error):
    """Whatever open(path, "rb") raises reaches the caller unchanged: a path object is named by its str."""
    with pytest.raises(error) as info:
        getattr(kestrel, func)(path)
    with pytest.raises(error) as expected:
        open(path, "rb")
    assert type(info.value) is type(expected.value) and str(info.value) == str(expected.value)
    assert getattr(info.value, "filename", None) == getattr(expected.value, "filename", None)
    assert type(getattr(info.value, "filename", None)) is type(getattr(expected.value, "filename", None))


def test_path_like_and_bytes_paths_are_accepted(write, tmp_path):
    import pathlib
    path = write(opus(spectrum("AB", [1.0])))
    assert kestrel.listContents(pathlib.Path(path)) == [("AB", "2D", "NONE")]
    assert kestrel.isOpusFile(os.fsencode(path)) is True


# ---------------------------------------------------------------- pipes and devices

@pytest.mark.parametrize("call, expected", [
    (lambda p: kestrel.isOpusFile(p), False),
    (lambda p: kestrel.getVisImages(p), []),
    (lambda p: kestrel.listContents(p), ValueError("Can't process a non-Opus file")),
    (lambda p: kestrel.getOpusData(p, ("AB", "2D", "NONE")), ValueError("Can't process a non-Opus file")),
], ids=["isOpusFile", "getVisImages", "listContents", "getOpusData"])
def test_endless_device_is_read_only_as_far_as_needed(call, expected):
    """/dev/zero never ends: only the bytes the reading asks for are taken from it."""
    if not os.path.exists("/dev/zero"):
        pytest.skip("no /dev/zero")
    if isinstance(expected, Exception):
        with pytest.raises(type(expected), match=f"^{expected}$"):
            call("/dev/zero")
    else:
        assert call("/dev/zero") == expected


FIFO_SCRIPT = """
import os, sys, threading, time
import kestrel

fifo, call, payload = sys.argv[1], sys.argv[2], bytes.fromhex(sys.argv[3])
result = []
reader = threading.Thread(target=lambda: result.append(getattr(kestrel, call)(fifo)))
reader.start()
fd = os.open(fifo, os.O_WRONLY)      # returns once the reader has opened its end
time.sleep(0.2)                      # the reader now waits for bytes
os.write(fd, payload)                # needs the lock: a reader holding it while it waits would stop us here
reader.join()                        # the writer stays open: the reader must not wait for the end
os.close(fd)
print(repr(result[0]))
"""


@pytest.mark.parametrize("call, payload, expected", [
    ("isOpusFile", MAGIC, "True"),
    ("isOpusFile", b"\0\0\0\0", "False"),
    ("listContents", opus(spectrum("AB", [1.0, 2.0])), "[('AB', '2D', 'NONE')]"),
], ids=["magic", "not-magic", "listing"])
def test_fifo_is_read_on_demand_without_holding_the_lock(tmp_path, call, payload, expected):
    """A FIFO whose writer stays open: the answer comes from the bytes asked for, and other threads run meanwhile."""
    import subprocess
    import sys
    if not hasattr(os, "mkfifo"):
        pytest.skip("no FIFOs here")
    fifo = tmp_path / "pipe.0"
    os.mkfifo(fifo)
    # The timeout only stops a hung child; a correct reader finishes at once.
    done = subprocess.run([sys.executable, "-c", FIFO_SCRIPT, str(fifo), call, payload.hex()],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == expected


def test_fifo_carrying_a_whole_file_reads_as_the_file(tmp_path, write):
    """A file piped through a FIFO (by another process) gives what the file itself gives."""
    import subprocess
    import sys
    if not hasattr(os, "mkfifo"):
        pytest.skip("no FIFOs here")
    source = write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=10.0, LXV=0.0)))
    fifo = tmp_path / "pipe.0"
    os.mkfifo(fifo)
    copy = "import sys; open(sys.argv[2], 'wb').write(open(sys.argv[1], 'rb').read())"
    with subprocess.Popen([sys.executable, "-c", copy, source, str(fifo)]) as writer:
        r = kestrel.getOpusData(str(fifo), ("AB", "2D", "NONE"))
    assert writer.returncode == 0
    assert r.x.tolist() == [10.0, 5.0, 0.0] and r.y.tolist() == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("data", [b"", b"\x00\x01\x02\x03", b"not an opus file at all"])
def test_list_contents_refuses_non_opus_files(write, data):
    with pytest.raises(ValueError, match="^Can't process a non-Opus file$"):
        kestrel.listContents(write(data))


@pytest.mark.parametrize("data", [
    MAGIC,                                   # magic only
    MAGIC + b"\0" * 12,                      # header cut inside the directory pointer
    opus(spectrum("AB", [1.0]))[:30],        # directory cut short
    opus(entry(sample=3, data=4), dir_size=5),  # more entries than the file holds
])
def test_truncated_header_or_directory_is_struct_error(write, data):
    with pytest.raises(struct.error, match="^unpack requires a buffer of [48] bytes$"):
        kestrel.listContents(write(data))


def test_truncated_extension_is_struct_error(write):
    data = opus(spectrum("AB", [1.0]), entry(sample=3, data=5, in_extension=True), sixfour_count=5)
    with pytest.raises(struct.error, match="unpack requires a buffer of 8 bytes"):
        kestrel.listContents(write(data))


@pytest.mark.parametrize("field", ["dir_size", "sixfour_count"])
def test_hostile_counts_fail_fast_without_memory(write, field):
    """A count of 2**31-1 in a 100-byte file fails at the end of the file, using almost no memory."""
    blocks = [entry(sample=3, data=4)]
    if field == "sixfour_count":
        blocks.append(entry(sample=3, data=5, in_extension=True))
    data = opus(*blocks, **{field: 2**31 - 1})
    data = (data + b"\0" * 100)[:100]
    path = write(data)
    tracemalloc.start()
    with pytest.raises(struct.error):
        kestrel.listContents(path)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert peak < 64 * 1024


def test_negative_directory_offset_raises_what_seek_raises(write):
    with pytest.raises(OSError) as info:
        kestrel.listContents(write(opus(spectrum("AB", [1.0]), offset_to_directory=-8)))
    assert info.value.errno == 22


@pytest.mark.parametrize("fields, expected", [
    (dict(sample=3, data=4), [("AB", "2D", "NONE")]),
    (dict(sample=1, data=4), [("SAB", "2D", "NONE")]),
    (dict(sample=2, data=4), [("RAB", "2D", "NONE")]),
    (dict(sample=0, data=4), []),
    (dict(sample=1, data=33), [("SSC-CH2", "2D", "NONE")]),
    (dict(sample=3, data=32), []),   # reduced code 32: outside the name table, left out
    (dict(sample=3, data=22), []),   # codes that real instruments write but the table does not name
    (dict(sample=3, data=54), []),
    (dict(sample=3, data=40), []),   # reduces to 8: unnamed
    (dict(sample=3, data=13), []),
    (dict(sample=3, data=7), [("TRC", "2D", "NONE"), ("TRC", "2D", "NONE")]),
    (dict(sample=0, data=7), [("TRC", "2D", "NONE")]),
    (dict(sample=3, data=4, extend=EXT_3D), [("AB", "3D", "NONE")]),
    (dict(sample=3, data=4, extend=11), [("AB", "2D", "NONE")]),
    (dict(sample=3, data=4, extend=64, offset=0), [("AB", "2D", "NONE")]),
    (dict(sample=3, data=4, deriv=3), [("AB", "2D", "NDER")]),
    (dict(sample=3, data=4, deriv=1, complex=2), [("AB", "2D", "1DER")]),
    (dict(sample=3, data=4, param=1), []),
    (dict(sample=3, data=7, param=5), []),
])
def test_translation_of_one_entry(write, fields, expected):
    assert kestrel.listContents(write(opus(entry(**fields)))) == expected


def test_groups_come_in_fixed_order_whatever_the_directory_order(write):
    blocks = [entry(sample=2, data=1), entry(sample=0, data=7), entry(sample=1, data=2),
              entry(sample=3, data=4), entry(sample=1, data=1), entry(sample=3, data=12, deriv=2)]
    assert kestrel.listContents(write(opus(*blocks))) == [
        ("AB", "2D", "NONE"), ("REFL", "2D", "2DER"), ("SIFG", "2D", "NONE"), ("SSC", "2D", "NONE"),
        ("RSC", "2D", "NONE"), ("TRC", "2D", "NONE")]


def test_raw_words_with_high_bits(write):
    """Bits 26 and up are ignored; a negative word decodes field by field."""
    word = block_word(sample=3, data=4) | 1 << 30
    assert kestrel.listContents(write(opus(entry(word=word)))) == [("AB", "2D", "NONE")]
    assert kestrel.listContents(write(opus(entry(word=-1)))) == []  # paramType 63


def test_extension_entries_follow_the_main_directory(write):
    blocks = [entry(sample=3, data=5, in_extension=True), entry(sample=3, data=4)]
    assert kestrel.listContents(write(opus(*blocks))) == [("AB", "2D", "NONE"), ("TR", "2D", "NONE")]


def test_only_the_last_extension_pointer_counts(write):
    """Two pointers: the first aims at the header (garbage), the writer's own comes last and wins."""
    data = opus(entry(sample=3, data=5, in_extension=True), entry(word=block_word(extend=64), offset=4))
    assert kestrel.listContents(write(data)) == [("TR", "2D", "NONE")]
    swapped = bytearray(data)
    swapped[24:36], swapped[36:48] = data[36:48], data[24:36]
    with pytest.raises(struct.error):
        kestrel.listContents(write(bytes(swapped)))


def test_extension_pointer_at_offset_zero_is_ignored(write):
    assert kestrel.listContents(write(opus(entry(word=block_word(extend=64), offset=0)))) == []


def test_extension_values_beyond_32_bits(write):
    data = opus(entry(sample=3, data=5, in_extension=True, offset=2**40, size_words=2**33))
    assert kestrel.listContents(write(data)) == [("TR", "2D", "NONE")]


def test_zero_and_negative_directory_sizes_give_empty_lists(write):
    assert kestrel.listContents(write(opus(entry(sample=3, data=4), dir_size=0))) == []
    assert kestrel.listContents(write(opus(entry(sample=3, data=4), dir_size=-3))) == []


@pytest.mark.parametrize("path", sample_files(), ids=lambda p: p.name)
def test_real_files_list(path):
    """Every real instrument file lists, with the unnamed codes 22 and 54 left out."""
    blocks = kestrel.listContents(str(path))
    assert kestrel.isOpusFile(str(path))
    assert all(len(t) == 3 and all(isinstance(s, str) for s in t) for t in blocks)
    if path.name == "MMP_2107_Test1.001":
        assert blocks == [("AB", "2D", "NONE")] * 3 + [("SIFG", "2D", "NONE"), ("SSC", "2D", "NONE"),
                                                       ("RIFG", "2D", "NONE"), ("RSC", "2D", "NONE")]
    if path.name == "md20220409s0e00a.0200":
        assert blocks == []
