"""A test-only OPUS writer: builds any file in memory from one declaration.

    opus(spectrum("AB", [1, 2, 3], FXV=10.0, LXV=0.0), params(kind=INSTRUMENT, INS="X"))

Blocks are laid out after the header and directory in the order given, each
padded to whole 4-byte words. Every field can be overridden so that broken and
hostile files are as easy to declare as good ones.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field

MAGIC = b"\x0a\x0a\xfe\xfe"

# paramType codes of parameter blocks
DATA_PARAMS = 1
INSTRUMENT = 2
ACQUISITION = 3
FT = 4
OPTICS = 6
SAMPLE = 10

# extendType codes
EXT_3D = 10
EXT_ANNOTATION = 11
EXT_IMAGE = 20
EXT_DIR64 = 64

# Data type names as they appear in listings, without the S/R prefix.
DATA_TYPES = {
    "SC": 1, "IFG": 2, "PH": 3, "AB": 4, "TR": 5, "KM": 6, "TRC": 7, "RAM": 10, "EMIS": 11,
    "REFL": 12, "POW": 14, "LREFL": 15, "ATR": 16, "PAS": 17, "TRARI": 18, "ABARI": 19,
}
DERIVATIVES = {"NONE": 0, "1DER": 1, "2DER": 2, "NDER": 3}


def block_word(complex=0, sample=0, param=0, data=0, deriv=0, extend=0):
    """The 32-bit block-type word of the six fields."""
    return complex | sample << 2 | param << 4 | data << 10 | deriv << 17 | extend << 19


def name_fields(name):
    """(dataType, sampleType) for a listed name such as "AB", "SSC", "RIFG-CH2".

    Names without an S/R prefix get sampleType 3 (a spectrum block)."""
    ch2 = name.endswith("-CH2")
    base = name[:-4] if ch2 else name
    sample = 3
    if base not in DATA_TYPES and base[:1] in "SR" and base[1:] in DATA_TYPES:
        sample = 1 if base[0] == "S" else 2
        base = base[1:]
    return DATA_TYPES[base] + (32 if ch2 else 0), sample


@dataclass
class Block:
    """One directory entry and the bytes it points at."""

    payload: bytes = b""
    complex: int = 0
    sample: int = 0
    param: int = 0
    data: int = 0
    deriv: int = 0
    extend: int = 0
    word: int | None = None  # raw block-type word, overriding the fields
    offset: int | None = None  # forced byteOffset (the payload is still laid out)
    size_words: int | None = None  # forced sizeInWords
    in_extension: bool = False  # listed in the 64-bit directory extension

    def type_word(self):
        if self.word is not None:
            return self.word
        return block_word(self.complex, self.sample, self.param, self.data, self.deriv, self.extend)


# ---------------------------------------------------------------- parameters

@dataclass
class Raw:
    """A parameter entry written exactly as given: type code, size field, value bytes."""

    type_code: int
    size: int
    value: bytes = b""


def encode_entry(key, value):
    name = key.encode("latin-1") if isinstance(key, str) else key
    name = name[:4].ljust(4, b"\0")
    if isinstance(value, Raw):
        return name + struct.pack("<hh", value.type_code, value.size) + value.value
    if isinstance(value, bool) or isinstance(value, int):
        return name + struct.pack("<hhi", 0, 2, int(value))
    if isinstance(value, float):
        return name + struct.pack("<hhd", 1, 4, value)
    if isinstance(value, str):
        value = value.encode("utf-8")
    if isinstance(value, bytes):
        text = value + b"\0"
        if len(text) % 2:
            text += b"\0"
        return name + struct.pack("<hh", 2, len(text) // 2) + text
    raise TypeError(f"cannot encode parameter {key}={value!r}")


def param_bytes(entries=(), end=True, **kw):
    """A parameter block: entries (pairs, in order) then keywords, then END."""
    items = list(entries.items() if isinstance(entries, dict) else entries) + list(kw.items())
    out = b"".join(encode_entry(k, v) for k, v in items)
    if end:
        out += b"END\0" + struct.pack("<hh", 0, 0)
    return out


def params(entries=(), *, kind=DATA_PARAMS, name=None, data=0, sample=0, deriv=0, extend=0, **kw):
    """A parameter block. With name= ("AB", "SSC", ...) it is the data parameter
    block of that data type; kind= chooses the paramType."""
    if name is not None:
        data, sample = name_fields(name)
    return Block(param_bytes(entries, **kw), sample=sample, param=kind, data=data, deriv=deriv, extend=extend)


# ---------------------------------------------------------------- data blocks

def floats(values):
    return struct.pack(f"<{len(values)}f", *values)


def data_block(name, payload, *, deriv=0, extend=0, **fields):
    data, sample = name_fields(name)
    return Block(payload, sample=sample, data=data, deriv=deriv, extend=extend, **fields)


def spectrum(name, values, *, deriv=0, FXV=None, LXV=None, params_first=False, **extra):
    """A 2D data block and its data parameter block (NPT, FXV, LXV, MNY, MXY and extras)."""
    values = list(values)
    npt = len(values)
    p = dict(NPT=npt, FXV=float(FXV if FXV is not None else npt), LXV=float(LXV if LXV is not None else 1.0),
             MNY=float(min(values, default=0.0)), MXY=float(max(values, default=0.0)), DXU="WN")
    p.update(extra)
    blocks = [data_block(name, floats(values), deriv=deriv), params(p, name=name, deriv=deriv)]
    return blocks[::-1] if params_first else blocks


# ---------------------------------------------------------------- the file

def _flatten(items):
    for item in items:
        if isinstance(item, (list, tuple)):
            yield from _flatten(item)
        else:
            yield item


def opus(*blocks, magic=MAGIC, version=920622.0, offset_to_directory=None, max_dir_size=None,
         dir_size=None, sixfour_count=None, extension_at=None, tail=b""):
    """The bytes of an OPUS file holding the given blocks (lists are flattened).

    Blocks with in_extension=True are listed in a 64-bit directory extension,
    pointed at by an extra 12-byte entry of extended type 64."""
    blocks = list(_flatten(blocks))
    main = [i for i, b in enumerate(blocks) if not b.in_extension]
    extended = [i for i, b in enumerate(blocks) if b.in_extension]
    n_main = len(main) + (1 if extended else 0)
    directory_at = 24
    layout_at = directory_at + 12 * n_main
    ext_bytes_len = 16 + 32 * len(extended) if extended else 0
    ext_offset = layout_at if extended else 0
    pos = layout_at + ext_bytes_len
    body = bytearray()
    offsets = []
    for b in blocks:
        offsets.append(pos)
        padded = b.payload + b"\0" * (-len(b.payload) % 4)
        body += padded
        pos += len(padded)

    def entry_values(b, off):
        return (b.type_word(), b.size_words if b.size_words is not None else (len(b.payload) + 3) // 4,
                b.offset if b.offset is not None else off)

    directory = bytearray()
    for i in main:
        word, size, off = entry_values(blocks[i], offsets[i])
        directory += struct.pack("<iii", _s32(word), _s32(size), _s32(off))
    if extended:
        at = extension_at if extension_at is not None else ext_offset
        directory += struct.pack("<iii", block_word(extend=EXT_DIR64), ext_bytes_len // 4, at)
    ext = bytearray()
    if extended:
        count = sixfour_count if sixfour_count is not None else len(extended)
        ext += struct.pack("<qq", count, 0)
        for i in extended:
            word, size, off = entry_values(blocks[i], offsets[i])
            ext += struct.pack("<qqqq", word, size, off, 0)
    header = magic + struct.pack("<d", version) + struct.pack(
        "<iii",
        offset_to_directory if offset_to_directory is not None else directory_at,
        max_dir_size if max_dir_size is not None else n_main,
        dir_size if dir_size is not None else n_main)
    return bytes(header) + bytes(directory) + bytes(ext) + bytes(body) + tail


def _s32(v):
    """Wraps an unsigned 32-bit pattern into the signed range struct wants."""
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


# ---------------------------------------------------------------- pictures

def suffix(n):
    """The key suffix of picture n: 00..99, then AA..AZ, then BA, BB, ... ZZ, AAA."""
    if n < 100:
        return f"{n:02d}"

    def letters(k):
        d, m = divmod(k, 26)
        return (letters(d - 1) if d else "") + chr(65 + m)

    return "A" + letters(n - 100) if n < 126 else letters(n - 74)


@dataclass
class Picture:
    """One picture record: a parameter block (SIZ, T00, F00, H00 title, Hnn/Vnn
    attributes) and a data area of lead bytes followed by the payload.

    Bytes (the payload length) and Type (0) are added to the attributes unless
    named there. entries= overrides parameters afterwards (None removes one)."""

    payload: bytes = b""
    title: object = "Picture"
    attrs: list | dict = field(default_factory=list)
    T00: object = 9
    lead: bytes = b""
    entries: list | dict = field(default_factory=list)

    def block(self, siz=0):
        attrs = list(self.attrs.items() if isinstance(self.attrs, dict) else self.attrs)
        names = {name for name, _ in attrs}
        attrs += [(k, v) for k, v in (("Bytes", len(self.payload)), ("Type", 0)) if k not in names]
        p = {"SIZ": siz, "T00": self.T00, "F00": len(self.lead)}
        if self.title is not None:
            p["H00"] = self.title
        for i, (name, value) in enumerate(attrs, start=1):
            p[f"H{i:02d}"], p[f"V{i:02d}"] = name, value
        p.update(self.entries)
        return param_bytes([(k, v) for k, v in p.items() if v is not None])

    def record(self):
        siz = len(self.block())
        data = self.block(siz) + self.lead + self.payload
        return data + b"\0" * (-len(data) % 4)


@dataclass
class ImageDir:
    """An image-directory block: BID, NRP and F/Z (offset, size) of the pictures
    that follow it up to the next ImageDir; NRP counts all pictures so far.
    lead= puts bytes before BID; entries= overrides (None removes)."""

    lead: bytes = b""
    bid: object = None
    nrp: object = None
    entries: list | dict = field(default_factory=list)

    def record(self, first, records, at):
        """The block listing records as pictures first, first+1, ...; at is its own offset."""
        own = len(self._bytes(first, records, None))  # ints are fixed size: offsets do not change it
        starts, pos = [], at + own
        for rec in records:
            starts.append(pos)
            pos += len(rec)
        return self._bytes(first, records, starts)

    def _bytes(self, first, records, starts):
        p = {"BID": self.bid if self.bid is not None else block_word(extend=EXT_IMAGE),
             "NRP": self.nrp if self.nrp is not None else first + len(records)}
        for i, rec in enumerate(records):
            p["F" + suffix(first + i)] = starts[i] if starts else 0
            p["Z" + suffix(first + i)] = len(rec)
        p.update(self.entries)
        data = self.lead + param_bytes([(k, v) for k, v in p.items() if v is not None])
        return data + b"\0" * (-len(data) % 4)


def image_block(*parts, **block_fields):
    """An image block (extended type 20) of ImageDir, Picture and raw bytes parts,
    laid out in order; a Picture list without a leading ImageDir gets one."""
    parts = list(_flatten(parts))
    if not parts or not isinstance(parts[0], (ImageDir, bytes)):
        parts.insert(0, ImageDir())
    out, count, i = b"", 0, 0
    while i < len(parts):
        part = parts[i]
        i += 1
        if isinstance(part, bytes):
            out += part
            continue
        if isinstance(part, Picture):
            out += part.record()
            continue
        records = []
        while i < len(parts) and isinstance(parts[i], Picture):
            records.append(parts[i].record())
            i += 1
        out += part.record(count, records, len(out)) + b"".join(records)
        count += len(records)
    return Block(out, extend=EXT_IMAGE, **block_fields)


# Small pictures whose own headers state their length.

def bmp(width=2, height=2, rgb=(255, 0, 0)):
    row = bytes(rgb[::-1]) * width
    row += b"\0" * (-len(row) % 4)
    pixels = row * height
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels), 0, 0, 14 + len(info)) + info + pixels


def png(width=2, height=2, rgb=(0, 128, 255)):
    import zlib

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    raw = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def gif():
    """A 1x1 GIF89a."""
    return (b"GIF89a" + struct.pack("<HHBBB", 1, 1, 0x80, 0, 0) + b"\xff\x00\x00\x00\x00\x00"
            + b",\0\0\0\0\1\0\1\0\0" + b"\x02\x02\x44\x01\x00" + b";")


def jpeg(marker=b"JFIF", body=b"kestrel"):
    """SOI, an APP0/APP1 segment carrying the marker, a comment segment, EOI."""
    app = (b"\xff\xe0" if marker == b"JFIF" else b"\xff\xe1") + struct.pack(">H", 2 + len(marker) + 10) \
        + marker + b"\0\1\1\0\0\1\0\1\0\0"
    return b"\xff\xd8" + app + b"\xff\xfe" + struct.pack(">H", 2 + len(body)) + body + b"\xff\xd9"
