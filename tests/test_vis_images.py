"""getVisImages: the image block, its picture directory and the pictures in it."""

import io
import pathlib
import re
import struct

import kestrel
import pytest

import child
from conftest import sample_files
from opusfile import (ImageDir, Picture, Raw, block_word, bmp, gif, image_block, jpeg, opus, params, png,
                      spectrum, suffix)


def vis(write, *blocks, **opus_kw):
    return kestrel.getVisImages(write(opus(*blocks, **opus_kw)))


def key_error(write, *blocks):
    with pytest.raises(KeyError) as info:
        vis(write, *blocks)
    return info.value.args[0]


# ---------------------------------------------------------------- round trips

@pytest.mark.parametrize("payload, ext", [
    (bmp(3, 2), "bmp"), (png(), "png"), (gif(), "gif"), (jpeg(), "jpeg"), (jpeg(b"Exif"), "jpeg"),
    (b"\xff\xd8\xff\xdb" + bytes(40), "jpeg"), (b"not a picture", None), (b"", None),
])
def test_picture_round_trip(write, payload, ext):
    """The stored bytes come back unchanged, named by their own header."""
    (pic,) = vis(write, image_block(Picture(payload, title="Overview", attrs=[("Pos. X:", 33733.0)])))
    assert list(pic) == ["Title", "Pos. X", "Bytes", "Type", "image", "imgext"]
    assert pic["image"] == payload and type(pic["image"]) is bytes
    assert pic["imgext"] == ext and pic["Title"] == "Overview" and pic["Pos. X"] == 33733.0


def test_many_pictures_over_two_directory_blocks(write):
    """130 pictures listed by two merged directory blocks, in suffix order past 99 and AZ."""
    pictures = [Picture(bmp(1 + i % 5, 1), title=f"P{i}", attrs={"Index": i}) for i in range(130)]
    result = vis(write, params(kind=2, INS="x"), image_block(pictures[:70], ImageDir(), pictures[70:]))
    assert [p["Title"] for p in result] == [f"P{i}" for i in range(130)]
    assert [p["Index"] for p in result] == list(range(130))
    assert all(p["image"] == bmp(1 + i % 5, 1) for i, p in enumerate(result))


def test_only_first_image_block_is_read(write):
    """A second block of extended type 20 is ignored."""
    result = vis(write, image_block(Picture(gif(), title="first")), image_block(Picture(png(), title="second")))
    assert [p["Title"] for p in result] == ["first"]


def test_later_directory_block_overrides_earlier_keys(write):
    """Merged directory keys: the later block's NRP wins, even when it lists fewer pictures."""
    blk = image_block(Picture(gif(), title="a"), Picture(gif(), title="b"), ImageDir(nrp=1))
    assert [p["Title"] for p in vis(write, blk)] == ["a"]


def test_directory_lead_bytes_and_trailing_junk(write):
    """BID may sit up to 13 bytes into a block; bytes after the directory chain without BID end the scan."""
    blk = image_block(ImageDir(lead=b"\0" * 13), Picture(png(), title="a"), ImageDir(lead=b"xyz"),
                      Picture(bmp(), title="b"), b"no marker here, padding")
    assert [p["imgext"] for p in vis(write, blk)] == ["png", "bmp"]


# ---------------------------------------------------------------- attributes and types

def test_type_258_drops_prefix(write):
    """Type 258 data carries 14 bytes in front of the picture."""
    payload = b"P" * 14 + bmp()
    (pic,) = vis(write, image_block(Picture(payload, attrs={"Type": 258})))
    assert pic["image"] == bmp() and pic["imgext"] == "bmp" and pic["Bytes"] == len(payload)


def bmp_file_header(data_offset=54):
    return b"BM" + struct.pack("<IHHI", 0, 0, 0, data_offset)


@pytest.mark.parametrize("payload, type_, image, ext", [
    (bmp_file_header() + jpeg(), 65538, jpeg(), "jpeg"),
    (bmp_file_header() + png(), 0, png(), "png"),
    (bmp_file_header(0) + jpeg(b"Exif"), 3, jpeg(b"Exif"), "jpeg"),
    (b"P" * 14 + bmp_file_header() + jpeg(), 258, bmp_file_header() + jpeg(), "bmp"),  # 258 keeps its rule
    (bmp(), 65538, bmp(), "bmp"),                                  # a real BMP stays whole
    (bmp_file_header() + gif(), 0, bmp_file_header() + gif(), "bmp"),
    (bmp_file_header(), 0, bmp_file_header(), "bmp"),
], ids=["jpeg", "png", "exif", "type-258", "real-bmp", "gif-stays", "header-alone"])
def test_stream_behind_a_bmp_file_header_is_unwrapped(write, payload, type_, image, ext):
    """A JPEG or PNG stored behind a 14-byte BMP file header comes back as the stream, named by it."""
    (pic,) = vis(write, image_block(Picture(payload, attrs={"Type": type_})))
    assert pic["image"] == image and pic["imgext"] == ext and pic["Bytes"] == len(payload)


@pytest.mark.parametrize("t00", [0, 1, 10, "9"])
def test_record_without_image_data(write, t00):
    """T00 other than 9 keeps title and attributes but no image entries."""
    (pic,) = vis(write, image_block(Picture(gif(), title="t", attrs={"Pos. Y": 2.5}, T00=t00)))
    assert pic == {"Title": "t", "Pos. Y": 2.5, "Bytes": len(gif()), "Type": 0}


def test_float_values_compare_as_numbers(write):
    """T00 9.0 and Type 258.0 count like the ints."""
    (pic,) = vis(write, image_block(Picture(b"x" * 14 + gif(), attrs={"Type": 258.0}, T00=9.0)))
    assert pic["image"] == gif()


@pytest.mark.parametrize("name, key", [("Pos. X:", "Pos. X"), ("Pos. X", "Pos. X"), ("Size:::", "Size"),
                                       (":", ""), ("a:b:", "a:b")])
def test_attribute_names_lose_trailing_colons(write, name, key):
    (pic,) = vis(write, image_block(Picture(gif(), attrs=[(name, 7)])))
    assert pic[key] == 7


def test_attribute_dict_semantics(write):
    """Repeated names keep their first place and last value; an attribute named image is replaced in place."""
    (pic,) = vis(write, image_block(Picture(gif(), title=None, attrs=[
        ("image", 1), ("A:", 1), ("Title", "x"), ("A", 2)], entries={"H50": "Title", "V50": "y"})))
    assert list(pic) == ["image", "A", "Title", "Bytes", "Type", "imgext"]
    assert pic["A"] == 2 and pic["Title"] == "y" and pic["image"] == gif()


def test_h_keys_pair_with_every_h_replaced(write):
    """HAH pairs with VAV; H00 is the title whatever its type."""
    (pic,) = vis(write, image_block(Picture(gif(), title=5, entries=[("HAH", "odd"), ("VAV", 1.5)])))
    assert pic["Title"] == 5 and pic["odd"] == 1.5


# ---------------------------------------------------------------- suffixes

@pytest.mark.parametrize("nrp, last", [
    (2, "01"), (100, "99"), (101, "AA"), (126, "AZ"), (127, "BA"), (776, "ZZ"), (777, "AAA"),
    (0, "-1"), (-9, "-10"), (2**31 - 1, "FXSHRVA"),
])
def test_last_picture_suffix(write, nrp, last):
    """The directory asks for the last picture under its suffix (and fails fast for huge counts)."""
    (kind, name, message), grown_kib = child.call("getVisImages", write(opus(image_block(ImageDir(nrp=nrp),
                                                                               Picture(gif())))))
    assert (kind, name, message) == ("raise", "KeyError", "F" + last) and grown_kib < 64 * 1024


# ---------------------------------------------------------------- bad inputs

def test_no_image_block(write):
    assert vis(write, spectrum("AB", [1, 2, 3])) == []


@pytest.mark.parametrize("blk, key", [
    (image_block(Picture(gif()), size_words=0), "NRP"),           # empty image block
    (image_block(Picture(gif()), offset=10**6), "NRP"),           # block past the end of the file
    (image_block(b"nothing to see here", Picture(gif())), "NRP"),  # no BID within 16 bytes
    (image_block(ImageDir(lead=b"\0" * 14), Picture(gif())), "NRP"),  # BID starts too late
    (image_block(ImageDir(bid=block_word(extend=10)), Picture(gif())), "F00"),
    (image_block(ImageDir(entries={"F00": None}), Picture(gif())), "F00"),
    (image_block(ImageDir(entries={"NRP": None}), Picture(gif())), "NRP"),
    (image_block(ImageDir(entries={"Z00": None}), Picture(gif())), "Z00"),
    (image_block(ImageDir(entries={"Z01": None}), Picture(gif()), Picture(gif())), "Z01"),
    (image_block(ImageDir(entries={"F01": None}), Picture(gif()), Picture(gif()), Picture(gif())), "F01"),
    (image_block(Picture(gif(), entries={"SIZ": None})), "SIZ"),
    (image_block(Picture(gif(), entries={"T00": None})), "T00"),
    (image_block(Picture(gif(), entries={"F00": None})), "F00"),
    (image_block(Picture(gif(), attrs={"Bytes": None}, entries={"H01": None, "V01": None})), "Bytes"),
    (image_block(Picture(gif(), entries={"H02": None, "V02": None})), "Type"),
    (image_block(Picture(gif(), entries={"V01": None})), "V01"),
])
def test_missing_keys(write, blk, key):
    assert key_error(write, blk) == key


@pytest.mark.parametrize("picture, error, message", [
    (Picture(gif(), attrs=[("A", 1), ("B", 2)], entries={"H01": 5}), AttributeError,
     "'int' object has no attribute 'rstrip'"),
    (Picture(gif(), entries={"H01": 0.5, "V01": None}), AttributeError, "'float' object has no attribute 'rstrip'"),
    (Picture(gif(), entries=[("V01", None), (b"\0\0\0\0", 1)]), IndexError, "string index out of range"),
    (Picture(gif(), attrs={"Bytes": "12"}), TypeError, "argument should be integer or None, not 'str'"),
    (Picture(gif(), attrs={"Bytes": 12.0}), TypeError, "argument should be integer or None, not 'float'"),
    (Picture(gif(), entries={"SIZ": 1.0}), TypeError, "'float' object cannot be interpreted as an integer"),
    (Picture(gif(), entries={"F00": "0"}), TypeError, "unsupported operand type(s) for +: 'int' and 'str'"),
    (Picture(gif(), entries={"SIZ": -10**6}), OSError, "[Errno 22] Invalid argument"),
    (Picture(gif(), entries=[("XYZ", Raw(7, 0))]), ValueError, "Unexpected value for reading parameter type: 7"),
])
def test_bad_picture_blocks(write, picture, error, message):
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        vis(write, image_block(picture))


@pytest.mark.parametrize("directory, error, message", [
    (ImageDir(bid="20"), TypeError, "unsupported operand type(s) for >>: 'str' and 'int'"),
    (ImageDir(nrp="1"), TypeError, "unsupported operand type(s) for -: 'str' and 'int'"),
    (ImageDir(nrp=1.0), TypeError, "'float' object cannot be interpreted as an integer"),
    (ImageDir(entries={"F00": 1.5}), TypeError, "'float' object cannot be interpreted as an integer"),
    (ImageDir(entries={"Z00": "9"}), TypeError, "unsupported operand type(s) for +: 'int' and 'str'"),
    (ImageDir(entries={"F00": -10**6}), OSError, "[Errno 22] Invalid argument"),
])
def test_bad_directory_blocks(write, directory, error, message):
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        vis(write, image_block(directory, Picture(gif())))


@pytest.mark.parametrize("count", [10**6, 2**31 - 1, -1, -7, 0, 2])
def test_image_bytes_at_end_of_file(write, count):
    """A count past the end gives the bytes that are there; a negative count reads to the end."""
    data = opus(image_block(Picture(b"", attrs={"Bytes": count}, lead=b"L"))) + b"tail"
    (pic,) = kestrel.getVisImages(write(data))
    start = data.rindex(b"L") + 1
    assert pic["image"] == (data[start:] if count < 0 else data[start:start + count])
    assert pic["image"].endswith(b"tail") or count in (0, 2)


def test_truncated_picture_block(write):
    data = opus(image_block(Picture(gif(), title="a long title " * 4)))
    with pytest.raises(kestrel.struct_error):
        kestrel.getVisImages(write(data[:-len(gif()) - 30]))


def test_cycle_of_directory_blocks_ends(write):
    """Two directory blocks, each sending the scan behind the other: the scan stops where it began."""
    a, b = Picture(gif(), title="a").record(), Picture(png(), title="b").record()
    first_len = len(ImageDir().record(0, [a], 0))
    f01 = first_len + len(a) + len(ImageDir(entries={"Z01": 0}).record(1, [b], 0))
    # The second block's last picture "ends" at the image block's start, where the first block is.
    blk = image_block(ImageDir(), Picture(gif(), title="a"), ImageDir(entries={"Z01": -f01}),
                      Picture(png(), title="b"))
    (kind, _, pictures), _ = child.call("getVisImages", write(opus(blk)))  # a scan that never ends fails as a hang
    assert kind == "ok" and [(p["Title"], p["imgext"]) for p in pictures] == [("a", "gif"), ("b", "png")]


# ---------------------------------------------------------------- arguments and real files

@pytest.mark.parametrize("arg, name", [(b"x.0", "bytes"), (pathlib.Path("x.0"), "PosixPath"), (3, "int"),
                                       (type("S", (str,), {})("x.0"), "S")])
def test_path_must_be_str(arg, name):
    with pytest.raises(TypeError, match=rf"^Argument 'path' has incorrect type \(expected str, got {name}\)$"):
        kestrel.getVisImages(arg)


def test_path_none_and_missing_file(tmp_path):
    with pytest.raises(TypeError, match="expected str, bytes or os.PathLike object, not NoneType"):
        kestrel.getVisImages(None)
    with pytest.raises(FileNotFoundError):
        kestrel.getVisImages(path=str(tmp_path / "absent.0"))


# Real files that carry pictures, with how many; every other real file has none.
PICTURE_COUNTS = {"peach_juice.0": 55}


@pytest.mark.parametrize("path", sample_files() or [pytest.param(None, marks=pytest.mark.skip("no samples"))])
def test_real_files_picture_counts(path):
    """Only the files known to hold pictures return any, and then all of them, each with its attributes."""
    pictures = kestrel.getVisImages(str(path))
    assert len(pictures) == PICTURE_COUNTS.get(path.name, 0)
    assert all("Title" in p and "imgext" in p and "image" in p for p in pictures)


@pytest.mark.parametrize("path", [p for p in sample_files() if p.name in PICTURE_COUNTS]
                         or [pytest.param(None, marks=pytest.mark.skip("no samples"))])
def test_real_pictures_open_in_an_image_library(path):
    """Every picture of a real file is bytes an image library reads, of the type it is named by."""
    from PIL import Image
    for picture in kestrel.getVisImages(str(path)):
        with Image.open(io.BytesIO(picture["image"])) as image:
            image.load()
            assert image.format.lower() == picture["imgext"]


@pytest.mark.parametrize("shared", [True, False])
def test_pictures_reading_to_the_end_of_a_large_tail(write, shared):
    """3000 pictures each reading 4 MiB: one shared record is read once; 3000 records are refused up front."""
    picture = Picture(b"", attrs={"Bytes": -1})
    if shared:
        def directory(record_at):
            return ImageDir(nrp=3000, entries=[(k + suffix(i), record_at) for i in range(3000) for k in "FZ"])

        record_at = len(directory(0).record(0, [], 0))  # the one record lies right behind the directory
        data = opus(image_block(directory(record_at), picture.record()))
    else:
        data = opus(image_block([picture] * 3000))
    path = write(data + b"x" * (4 << 20))
    (kind, name, result), grown_kib = child.call("getVisImages", path)
    if shared:
        assert kind == "ok" and len(result) == 3000 and result[0]["image"] == result[-1]["image"]
        assert result[-1]["image"][1] >= 4 << 20
        assert grown_kib < 1024 * 1024  # far below 3000 copies of 4 MiB
    else:
        assert (kind, name) == ("raise", "MemoryError") and grown_kib < 64 * 1024
