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
    if hasattr(values, "astype"):  # a numpy array: fast for large benchmark files
        return values.astype("<f4").tobytes()
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


# ---------------------------------------------------------------- 3D data blocks
#
# A 3D data block is a store table (six int32: version, stored blocks, block
# offset from the block start, block size, info size, number of entries; then
# the (first, second) entries: a run of spectrum numbers, or (-1, n) a gap of n
# bytes) followed by sub-block records: block_size bytes of float32 values,
# then info_size bytes of information with a float64 time at 136 and a
# NUL-terminated label at 152.

INFO_TIME = 136
INFO_LABEL = 152
INFO_SIZE = INFO_LABEL + 64


def record(values, *, time=0.0, label="", block_size=None, info_size=INFO_SIZE):
    """One sub-block record: the values (zero-padded or cut to block_size bytes) and its info area."""
    data = floats(values)
    if block_size is not None:
        data = data[:block_size].ljust(block_size, b"\0")
    info = bytearray(max(info_size, INFO_LABEL))
    info[INFO_TIME:INFO_TIME + 8] = struct.pack("<d", time)
    text = label.encode("utf-8") if isinstance(label, str) else label
    info[INFO_LABEL:INFO_LABEL + len(text)] = text
    return data + bytes(info[:max(info_size, 0)])


def block3d(records, entries=None, *, block_size=None, info_size=INFO_SIZE, stored_blocks=None, block_offset=None,
            version=1, number_of_entries=None):
    """The payload of a 3D data block: the store table, then the records placed as the entries say.

    records: value lists (made into records with block_size/info_size) or bytes from record(); one per
    assigned number in table order, duplicates included. entries default to one run (0, n - 1). Fewer
    records than numbers end the block at the first missing one (a file cut short). block_offset is
    relative to the block start (default: right after the table)."""
    if block_size is None:
        first = next((r for r in records if not isinstance(r, (bytes, bytearray))), None)
        if first is None:
            raise ValueError("block_size is needed when all records are bytes")
        block_size = 4 * len(first)
    records = [r if isinstance(r, (bytes, bytearray)) else record(r, block_size=block_size, info_size=info_size)
               for r in records]
    entries = [(0, len(records) - 1)] if entries is None else list(entries)
    at = 24 + 8 * len(entries) if block_offset is None else block_offset
    out = bytearray(struct.pack(
        "<6i", version, len(records) if stored_blocks is None else stored_blocks, at, block_size, info_size,
        len(entries) if number_of_entries is None else number_of_entries))
    for first, second in entries:
        out += struct.pack("<ii", first, second)
    pending = iter(records)
    for first, second in entries:
        if first == -1:
            at += second
            continue
        for _ in range(first, second + 1):
            rec = next(pending, None)
            if rec is None:
                return bytes(out)
            if at < 0:
                raise ValueError("a record before the block start")
            out[len(out):at] = b"\0" * max(0, at - len(out))
            out[at:at + len(rec)] = rec
            at += block_size + info_size
    return bytes(out)


def data3d(name, records, *, entries=None, times=None, labels=None, block_size=None, info_size=INFO_SIZE,
           deriv=0, npt=None, FXV=None, LXV=None, params_first=False, table=None, **extra):
    """A 3D data block and its data parameter block (NPT, FXV, LXV, MNY, MXY, DXU and extras such as the
    six map keys AOX, AOY, NPX, NPY, DDX, DDY). records are value lists; times and labels go into their
    info areas; table= passes further store-table fields (stored_blocks, block_offset, ...)."""
    records = list(records)
    n = len(records)
    times = list(times) if times is not None else [0.0] * n
    labels = list(labels) if labels is not None else [""] * n
    if block_size is None and records:
        block_size = 4 * len(records[0])
    made = [record(v, time=t, label=lb, block_size=block_size, info_size=info_size)
            for v, t, lb in zip(records, times, labels)]
    payload = block3d(made, entries, block_size=block_size or 0, info_size=info_size, **(table or {}))
    npt = npt if npt is not None else (len(records[0]) if records else 0)
    every = [float(x) for values in records for x in values] or [0.0]
    p = dict(NPT=npt, FXV=float(FXV if FXV is not None else npt), LXV=float(LXV if LXV is not None else 1.0),
             MNY=min(every), MXY=max(every), DXU="WN")
    p.update(extra)
    blocks = [data_block(name, payload, deriv=deriv, extend=EXT_3D),
              params(p, name=name, deriv=deriv, extend=EXT_3D)]
    return blocks[::-1] if params_first else blocks


def image_map(name, cube, *, transposed=False, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, **kw):
    """An image map of cube[row][column][point] (NPY rows, NPX columns, NPT points): one record per grid
    position, row by row, or (transposed) one record per spectral point holding that point's image."""
    npy, npx = len(cube), len(cube[0]) if cube else 0
    npt = len(cube[0][0]) if npx else 0
    if transposed:
        records = [[cube[r][c][p] for r in range(npy) for c in range(npx)] for p in range(npt)]
    else:
        records = [cube[r][c] for r in range(npy) for c in range(npx)]
    return data3d(name, records, npt=npt, AOX=AOX, AOY=AOY, DDX=DDX, DDY=DDY, NPX=npx, NPY=npy, **kw)


# ---------------------------------------------------------------- annotation blocks
#
# An annotation block: 12 bytes not read, a table directory (a parameter block
# at 12: NRP tables, F00, F01, ... the offset of each table's description from
# the block start), then per table its description (a parameter block: SRC row
# length, SIZ first row from the description, NCO, NLN, and per column Snn name,
# Fnn position, Tnn type) and its rows. Cells are read one after another from
# the row start; every text cell of a table is as long as the largest distance
# from a text column's position to the row end.

ANNO_INT, ANNO_FLOAT, ANNO_TEXT = 4, 5, 1000


@dataclass
class AnnoTable:
    """One table: its description (a dict, written in order) and its row bytes."""

    description: dict
    rows: bytes = b""


def anno_table(columns, rows, *, text=32, **overrides):
    """A table of columns [(name, type code), ...] and rows of cell values.

    Cells are packed as read: 4 bytes for codes 4 and 5, `text` bytes for a text code (1000-1099, value
    cut or NUL-padded), none for other codes (their values are ignored). Text columns are placed `text`
    bytes before the row end, so the text length is `text`. Keyword overrides (SRC=, NLN=, T01=, ...)
    replace or add description keys, None drops one; SIZ defaults to the description's own length, so
    the rows follow it."""
    def is_text(code):
        return isinstance(code, int) and 1000 <= code < 1100

    def width(code):
        return 4 if code in (ANNO_INT, ANNO_FLOAT) else text if is_text(code) else 0

    row_length = sum(width(code) for _, code in columns)
    desc = dict(SRC=row_length, SIZ=0, NCO=len(columns), NLN=len(rows))
    at = 0
    for k, (name, code) in enumerate(columns):
        desc.update({f"S{k:02d}": name, f"F{k:02d}": row_length - text if is_text(code) else at, f"T{k:02d}": code})
        at += width(code)
    desc.update(overrides)
    desc = {k: v for k, v in desc.items() if v is not None}
    if "SIZ" not in overrides:
        desc["SIZ"] = len(param_bytes(desc))
    out = bytearray()
    for row in rows:
        for (_, code), value in zip(columns, row):
            if code == ANNO_INT:
                out += struct.pack("<i", value)
            elif code == ANNO_FLOAT:
                out += struct.pack("<f", value)
            elif is_text(code):
                raw = value.encode("utf-8") if isinstance(value, str) else value
                out += raw[:text].ljust(text, b"\0")
    return AnnoTable(desc, bytes(out))


def annotation(*tables, skip=b"\0" * 12, **directory):
    """The payload of an annotation block holding the tables (AnnoTable, or (description bytes, rows
    bytes) for raw ones). Keyword overrides replace directory keys (NRP=..., F00=...), None drops one."""
    names = [f"F{t:02d}" for t in range(len(tables))]

    def entries(offsets):
        d = {"NRP": len(tables), **dict(zip(names, offsets)), **directory}
        return {k: v for k, v in d.items() if v is not None}

    at = len(skip) + len(param_bytes(entries([0] * len(tables))))
    offsets, body = [], bytearray()
    for table in tables:
        desc, rows = table if isinstance(table, tuple) else (param_bytes(table.description), table.rows)
        offsets.append(at + len(body))
        body += desc + rows
        body += b"\0" * (-len(body) % 4)
    return skip + param_bytes(entries(offsets)) + bytes(body)


def annotation_block(*tables, **kw):
    """An annotation block (extendType 11) holding the tables."""
    return Block(annotation(*tables, **kw), extend=EXT_ANNOTATION)


REGION_COLUMNS = [("Group", ANNO_INT), ("Type", ANNO_INT), ("AryNX", ANNO_INT), ("AryNY", ANNO_INT),
                  ("AryType", ANNO_INT), ("Fileindex", ANNO_INT), ("X", ANNO_FLOAT), ("Y", ANNO_FLOAT)]


def region_rows(group, points, *, nx=0, ny=0, ary_type=0, row_type=0, first_index=1):
    """Annotation rows of one region of a multi-region map: points are (x, y) pairs, file indices
    counting from first_index; rows for REGION_COLUMNS."""
    return [(group, row_type, nx, ny, ary_type, first_index + i, x, y) for i, (x, y) in enumerate(points)]


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
