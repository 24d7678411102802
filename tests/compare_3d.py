"""Runs kestrel and the literal model on the same file and compares what each did: the result (every
attribute, array dtypes, shapes and bytes), or the type and message of the error; the printed lines and
the warnings too. Also a seeded generator of varied 3D files, good and damaged."""

import contextlib
import io
import os
import random
import struct
import warnings

import numpy as np

import kestrel
import literal_3d
from opusfile import (ANNO_FLOAT, ANNO_INT, ANNO_TEXT, EXT_3D, INFO_SIZE, REGION_COLUMNS, anno_table,
                      annotation_block, block3d, data_block, opus, params, record)


def outcome(call):
    """(result, error, printed text, warnings as (message, category)) of one call."""
    printed = io.StringIO()
    with warnings.catch_warnings(record=True) as caught, contextlib.redirect_stdout(printed):
        warnings.simplefilter("always")
        try:
            result, error = call(), None
        except Exception as e:  # noqa: BLE001 - every error is compared
            result, error = None, e
    return result, error, printed.getvalue(), [(str(w.message), w.category) for w in caught]


def main_array(result):
    """getOpusData's main array; multi-region regions' rows stacked."""
    if hasattr(result, "regions"):
        return np.concatenate([r.spectra for r in result.regions])
    if hasattr(result, "spectra"):
        return result.spectra
    return result.traces if hasattr(result, "traces") else result.y


def same_value(got, want, where):
    if isinstance(want, np.ndarray):
        assert isinstance(got, np.ndarray), where
        assert (got.dtype, got.shape) == (want.dtype, want.shape), where
        assert got.tobytes() == want.tobytes(), f"{where}: {got!r} != {want!r}"
    elif isinstance(want, dict):
        assert isinstance(got, dict) and list(got) == list(want), where
        for k in want:
            same_value(got[k], want[k], f"{where}[{k!r}]")
    elif isinstance(want, list):
        assert isinstance(got, list) and len(got) == len(want), where
        for k, (g, w) in enumerate(zip(got, want)):
            same_value(g, w, f"{where}[{k}]")
    elif isinstance(want, float) and want != want:
        assert isinstance(got, float) and got != got, where
    else:
        assert type(got) is type(want) and got == want, f"{where}: {got!r} != {want!r}"


def same_result(got, want):
    assert type(got).__name__ == want.cls
    for key, value in want.kwargs.items():
        attribute = "derivative" if key == "deriv" else key
        if key == "regions":
            assert [type(r).__name__ for r in got.regions] == ["Region"] * len(value)
            same_value([dict(vars(r)) for r in got.regions], value, "regions")
        else:
            same_value(getattr(got, attribute), value, attribute)


def same_error(got, want):
    assert type(got) is type(want), f"{type(got).__name__}: {got} != {type(want).__name__}: {want}"
    if not isinstance(want, MemoryError):  # kestrel's own refusal: its own words
        assert str(got) == str(want), f"{got} != {want}"


def compare(path, triple):
    """Both readers on one file: the same result, or the same first error; the same output."""
    size = os.path.getsize(path)
    got = outcome(lambda: kestrel.getOpusData(path, triple))
    want = outcome(lambda: literal_3d.getOpusData(path, triple, size))
    if want[1] is not None or got[1] is not None:
        assert got[1] is not None and want[1] is not None, f"kestrel: {got[1]!r}, model: {want[1]!r}"
        same_error(got[1], want[1])
    else:
        same_result(got[0], want[0])
    assert got[2:] == want[2:]
    return got


# ---------------------------------------------------------------- the generator

def value(rng):
    return rng.randint(-4000, 4000) / 8.0


def entries_for(rng, stride):
    """A store table: runs (some empty or reversed, some repeating numbers) and gaps (some negative)."""
    out = []
    for _ in range(rng.choice([1, 1, 2, 3, 4])):
        pick = rng.random()
        if pick < 0.2:
            out.append((-1, rng.choice([0, 4, 100, -stride, -8])))
        elif pick < 0.27:
            a = rng.randint(0, 6)
            out.append((a, a - rng.randint(1, 2)))
        else:
            a = rng.choice([0, 0, 1, 2, 5, rng.randint(0, 9)])
            out.append((a, a + rng.randint(0, 4)))
    return out


def assigned(entries):
    return sum(max(0, b - a + 1) for a, b in entries if a != -1)


def payload3d(rng, records, entries, block_size, info_size, **table):
    """The 3D block payload; records the writer cannot place (before the block start) are left out."""
    try:
        return block3d(records, entries, block_size=block_size, info_size=info_size, **table)
    except ValueError:
        return block3d([], entries, block_size=block_size, info_size=info_size, **table)


def record_bytes(rng, values, block_size, info_size, label=None):
    text = label if label is not None else rng.choice(["", "Band 1", "trace-\u00e9", "x" * 70, "a\0b"])
    return record(values, time=value(rng), label=text, block_size=block_size, info_size=info_size)


def damage(rng, data):
    """Cuts the file short somewhere, or leaves it whole."""
    if rng.random() < 0.3:
        return data[:rng.randint(24, len(data))]
    return data


def spectrum_params(rng, npt, **extra):
    p = dict(NPT=npt, FXV=value(rng), LXV=value(rng), MNY=-1.0, MXY=1.0, DXU="WN", ZTX="s")
    p.update(extra)
    return p


def blocks3d(name, payload, p, deriv=0, params_first=None, rng=None):
    blocks = [data_block(name, payload, deriv=deriv, extend=EXT_3D), params(p, name=name, deriv=deriv, extend=EXT_3D)]
    return blocks[::-1] if params_first or (rng and rng.random() < 0.5) else blocks


def series_case(rng):
    name = rng.choice(["AB", "TRC", "TRC", "TRC-CH2", "SSC", "RAM"])
    npt = rng.choice([0, 1, 2, 3, 5])
    info_size = rng.choice([INFO_SIZE, INFO_SIZE, 144, 152, 160, 100])
    block_size = 4 * npt if rng.random() < 0.85 else 4 * npt + rng.choice([-4, 4, 8])
    entries = entries_for(rng, block_size + info_size)
    n = assigned(entries)
    short = rng.random() < 0.15  # fewer records written than the table assigns
    records = [record_bytes(rng, [value(rng) for _ in range(npt)], block_size, info_size)
               for _ in range(n - (rng.randint(1, n) if short and n else 0))]
    payload = payload3d(rng, records, entries, block_size, info_size)
    data = opus(blocks3d(name, payload, spectrum_params(rng, npt), rng=rng))
    return damage(rng, data), (name, "3D", "NONE")


def map_params(rng, npx, npy, npt):
    return spectrum_params(rng, npt, AOX=value(rng), AOY=value(rng), DDX=rng.choice([1.0, -2.5, 0.5]),
                           DDY=rng.choice([1.0, 3.0, -1.0]), NPX=npx, NPY=npy)


def image_case(rng):
    name = rng.choice(["AB", "AB", "TRC", "SSC", "TRC-CH2"])
    npx, npy = rng.randint(0, 3), rng.randint(0, 3)
    info_size = rng.choice([INFO_SIZE, INFO_SIZE, 152, 160])
    layout = rng.choice(["position", "position", "transposed", "transposed", "both", "neither"])
    if name == "TRC":
        npt = npx * npy if rng.random() < 0.8 else npx * npy + rng.choice([-1, 1, 2])
        npt = max(npt, 0)
        count = rng.randint(0, 4)
        width = npt
    elif layout == "transposed":
        npt = rng.randint(0, 4)
        count = max(0, npt + rng.choice([0, 0, 0, -1, 1]))
        width = npx * npy
    else:
        npt = rng.randint(0, 4)
        count = max(0, npx * npy + rng.choice([0, 0, 0, -1, 1]))
        width = npt
    block_size = 4 * width
    table = {}
    if layout == "transposed":
        table["stored_blocks"] = npt
    if layout == "both":
        npt = npx * npy
        block_size, width, table["stored_blocks"] = 4 * npt, npt, npt
    if layout == "neither":
        block_size = 4 * npt + 4
        table["stored_blocks"] = npt + 1
    if rng.random() < 0.2:
        entries = entries_for(rng, block_size + info_size)
        count = assigned(entries)
    else:
        entries = [(0, count - 1)]
    records = [record_bytes(rng, [value(rng) for _ in range(width)], block_size, info_size) for _ in range(count)]
    if rng.random() < 0.1 and records:  # a record cut to one value at the end of the file
        records[-1] = records[-1][:4]
    payload = payload3d(rng, records, entries, block_size, info_size, **table)
    deriv = rng.choice([0, 0, 1, 2])
    p = map_params(rng, npx, npy, npt)
    blocks = blocks3d(name, payload, p, deriv=deriv, rng=rng)
    if deriv and rng.random() < 0.6:  # a derived block without a grid of its own
        p["NPX" if rng.random() < 0.5 else "NPY"] = 0
        blocks = blocks3d(name, payload, p, deriv=deriv, rng=rng)
        if rng.random() < 0.8:
            original = map_params(rng, npx, npy, npt)
            if rng.random() < 0.15:
                del original[rng.choice(["AOX", "AOY", "DDX", "DDY", "NPX", "NPY"])]
            blocks.append(params(original, name=name, deriv=0, extend=EXT_3D))
    if rng.random() < 0.1:
        blocks.append(annotation_block(anno_table(REGION_COLUMNS, [(1, 0, 0, 0, 0, 0, 1.0, 2.0)])))
    return damage(rng, opus(blocks)), (name, "3D", ["NONE", "1DER", "2DER"][deriv])


def region_table_rows(rng, numbers, trace, npt):
    """Rows of REGION_COLUMNS for a few regions."""
    rows = []
    for group in rng.sample([1, 2, 3, 7, 30, -4, 1000], rng.randint(0, 3)):
        row_type = 0 if rng.random() < 0.85 else rng.choice([1, 2])
        if rng.random() < 0.5:
            nx = ny = 0
            ary_type = 0 if rng.random() < 0.9 else 1
            n = rng.randint(1, 4)
        else:
            nx, ny, ary_type = rng.randint(1, 3), rng.randint(1, 2), rng.choice([0, 1])
            n = nx * ny
        for _ in range(n):
            if trace:
                findex = rng.randint(1, npt) if npt and rng.random() < 0.9 else rng.choice([0, npt + 1, npt])
            else:
                findex = rng.choice(numbers) if numbers and rng.random() < 0.85 else rng.choice([-1, 99, 0])
            rows.append([group, row_type, nx, ny, ary_type, findex, value(rng), value(rng)])
    if rows and rng.random() < 0.15:
        del rows[-1]  # the last region runs past the end of the lists
    return rows


def region_case(rng):
    name = rng.choice(["AB", "AB", "TRC", "TRC", "SSC"])
    trace = name == "TRC"
    info_size = rng.choice([INFO_SIZE, INFO_SIZE, 144, 160])
    if trace:
        npt = rng.randint(0, 5)
        entries = [(0, rng.randint(-1, 3))]
    else:
        npt = rng.randint(0, 4)
        entries = entries_for(rng, 4 * npt + info_size) if rng.random() < 0.5 else [(0, rng.randint(0, 5))]
    block_size = 4 * npt
    offsets = literal_3d.LazyOffsets(literal_3d.StoreTable3D(0, 0, 0, block_size, info_size, 0, entries))
    numbers = [n for n, _ in offsets.items()]
    records = [record_bytes(rng, [value(rng) for _ in range(npt)], block_size, info_size)
               for _ in range(assigned(entries))]
    payload = payload3d(rng, records, entries, block_size, info_size)
    rows = region_table_rows(rng, numbers, trace, npt)
    columns = list(REGION_COLUMNS)
    pick = rng.random()
    if pick < 0.08:
        k = rng.randrange(len(columns))
        columns.pop(k)
        rows = [r[:k] + r[k + 1:] for r in rows]
    elif pick < 0.16:
        k = [c for c, _ in columns].index("Fileindex")
        columns[k] = ("Fileindex", ANNO_FLOAT)
    elif pick < 0.22:
        k = [c for c, _ in columns].index(rng.choice(["X", "Group", "Type"]))
        columns[k] = (columns[k][0], ANNO_TEXT)
        rows = [r[:k] + [str(r[k])] + r[k + 1:] for r in rows]
    elif pick < 0.3:
        k = rng.randint(0, len(columns))
        columns.insert(k, ("Odd", rng.choice([7, 0, 3000])))
        rows = [r[:k] + [None] + r[k:] for r in rows]  # a cell of an unknown type takes no bytes
    tables = [anno_table(columns, rows)]
    if rng.random() < 0.2:
        tables.insert(0, anno_table([("Note", ANNO_TEXT), ("N", ANNO_INT)], [("a", 1), ("bc", 2)], text=8))
    p = spectrum_params(rng, npt)
    blocks = blocks3d(name, payload, p, rng=rng) + [annotation_block(*tables)]
    if rng.random() < 0.5:
        blocks = blocks[::-1]
    return damage(rng, opus(blocks)), (name, "3D", "NONE")


KINDS = {"series": series_case, "image": image_case, "region": region_case}


def generated(kind, seed):
    return KINDS[kind](random.Random(f"{kind}-{seed}"))


def truncations(data, start, step=1):
    """The file cut at every step-th byte from start on."""
    return [data[:n] for n in range(start, len(data), step)]


def s32(v):
    return struct.unpack("<i", struct.pack("<I", v & 0xFFFFFFFF))[0]
