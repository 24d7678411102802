"""decode_string and imghdr_what: small helpers with Python's exact behaviour."""

import pytest

import kestrel


@pytest.mark.parametrize("data, encodings, expected", [
    (b"abc", None, "abc"),
    (b"\xc3\xa9", None, "\u00e9"),
    (b"\xe9", None, "\u00e9"),
    (b"a\x00b", None, "a\x00b"),
    (b"a\xffb", ("ascii",), "ab"),
    (b"a\xffb", (), "ab"),
    (b"", None, ""),
    (bytearray(b"\xc3\xa9"), None, "\u00e9"),
    (b"\xed\xa0\x80", None, "\u00ed\u00a0\u0080"),  # a surrogate is not UTF-8: Latin-1
    (b"\xc0\x80", None, "\u00c0\u0080"),            # overlong: Latin-1
    (b"\xf4\x90\x80\x80", None, "\u00f4\u0090\u0080\u0080"),
    (b"\xff", ["utf8", "cp1252"], "\u00ff"),
])
def test_decode_string(data, encodings, expected):
    args = (data,) if encodings is None else (data, encodings)
    assert kestrel.decode_string(*args) == expected


@pytest.mark.parametrize("args, error", [
    ((b"", ["no-such-codec"]), LookupError),
    (("text",), AttributeError),
    ((b"", 5), TypeError),
])
def test_decode_string_errors_propagate(args, error):
    with pytest.raises(error):
        kestrel.decode_string(*args)


def test_decode_string_uses_current_defaults():
    saved = kestrel.decode_string.__defaults__
    try:
        kestrel.decode_string.__defaults__ = (("ascii",),)
        assert kestrel.decode_string(b"a\xe9") == "a"
    finally:
        kestrel.decode_string.__defaults__ = saved


JFIF = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00"
EXIF = b"\xff\xd8\xff\xe1\x00\x10Exif\x00"
PNG = b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("data, expected", [
    (JFIF, "jpeg"), (EXIF, "jpeg"), (b"\xff\xd8\xff\xdb\x00", "jpeg"), (b"\xff\xd8\xff\xee\x00\x00\x00\x00\x00\x00", None),
    (PNG, "png"), (PNG[:7], None), (b"GIF89a...", "gif"), (b"GIF87a", "gif"), (b"GIF88a", None),
    (b"BM", "bmp"), (b"BMxyz", "bmp"), (b"BM\0\0\0\0JFIF", "jpeg"), (b"", None), (b"B", None),
    (bytearray(PNG), "png"), (memoryview(b"\0" * 6 + b"JFIF"), "jpeg"),
])
def test_imghdr_what(data, expected):
    assert kestrel.imghdr_what(data) == expected


@pytest.mark.parametrize("data", ["BM text", 12])
def test_imghdr_what_rejects_non_bytes(data):
    with pytest.raises(TypeError):
        kestrel.imghdr_what(data)


def test_imghdr_what_memoryview_fails_like_python():
    """A memoryview slices and compares like bytes but has no startswith."""
    with pytest.raises(AttributeError):
        kestrel.imghdr_what(memoryview(b"nothing here"))
