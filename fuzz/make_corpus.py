"""Writes the seed corpus: many small files built with the test writer.

    python fuzz/make_corpus.py OUT_DIR [--samples DIR]

Each scenario is one small OPUS file, good or broken on purpose; every good
file is also written cut short at several places. With --samples the real
instrument files of DIR are copied in as well. The scenarios are importable
(scenarios()) so the Python tests can feed the same files to the public
functions.
"""

from __future__ import annotations

import argparse
import math
import pathlib
import shutil
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))

import opusfile as w  # noqa: E402

# Every parameter key that the readers look up somewhere, so the fuzzer starts
# from blocks that carry them.
DATA_KEYS = dict(NPT=4, FXV=4000.0, LXV=400.0, CSF=1.0, MXY=3.0, MNY=0.0, DXU="WN", DPF=1, NSN=1)
MAP_KEYS = dict(NPX=2, NPY=2, AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NRP=2, SIZ=2, SRC=1, NCO=3, NLN=1)


def two_d(name="AB", values=(1.0, 2.0, 3.0, 4.0), **kw):
    return w.spectrum(name, values, **kw)


def good_files():
    """Well-formed files: every data type and prefix, derivatives, second channel, extension."""
    for base in w.DATA_TYPES:
        for prefix in ("", "S", "R"):
            yield f"2d_{prefix}{base}", w.opus(two_d(prefix + base))
    for deriv in w.DERIVATIVES.values():
        yield f"2d_deriv{deriv}", w.opus(two_d(deriv=deriv))
    yield "2d_ch2", w.opus(two_d("AB-CH2"), two_d("SSC-CH2"), two_d("AB"))
    yield "2d_params_first", w.opus(two_d(params_first=True))
    yield "2d_all_param_kinds", w.opus(
        two_d(), [w.params(kind=k, INS="X", RES=4.0, NSS=32) for k in
                  (w.INSTRUMENT, w.ACQUISITION, w.FT, w.OPTICS, w.SAMPLE)])
    yield "2d_many_keys", w.opus(two_d(**{k: v for k, v in DATA_KEYS.items() if k != "NPT"}, **MAP_KEYS))
    yield "2d_empty", w.opus(w.spectrum("AB", []))
    yield "2d_single", w.opus(w.spectrum("AB", [5.0]))
    yield "2d_nan_inf", w.opus(w.spectrum("AB", [math.nan, math.inf, -math.inf, 0.0]))
    yield "2d_npt_mismatch", w.opus(w.spectrum("AB", [1.0, 2.0], NPT=1000))
    yield "2d_negative_npt", w.opus(w.spectrum("AB", [1.0, 2.0], NPT=-5))
    yield "2d_many_blocks", w.opus([two_d(n) for n in ("AB", "SSC", "RSC", "IFG", "TRC", "SIFG", "RIFG", "PH")])
    ext = list(w._flatten(two_d("SSC")))
    for b in ext:
        b.in_extension = True
    yield "ext64", w.opus(two_d(), ext)
    yield "ext64_big_values", w.opus(w.Block(b"\0" * 8, data=4, sample=3, in_extension=True, size_words=2**40))
    yield "empty_directory", w.opus()
    yield "demo_like", w.opus(two_d(), w.params(kind=w.INSTRUMENT, INS="demo"), w.params(kind=w.OPTICS, SRC="MIR"))


def param_files():
    """Parameter blocks with every type code, odd sizes and names."""
    raw = w.Raw
    cases = {
        "types_0_to_4": [("I32", 7), ("F64", 1.5), ("T2", raw(2, 2, b"ab\0\0")), ("T3", raw(3, 1, b"cd")),
                         ("T4", raw(4, 2, b"\xc3\xa9\0\0"))],
        "type_5": [("BAD", raw(5, 0))],
        "type_neg": [("BAD", raw(-1, 0))],
        "type_big": [("BAD", raw(0x7FFF, 0))],
        "int_size_ignored": [("NPT", raw(0, 4, struct.pack("<i", 3))), ("FXV", 2.0)],
        "text_size_0": [("TXT", raw(2, 0))],
        "text_no_nul": [("TXT", raw(2, 3, b"abcdef"))],
        "text_nul_inside": [("TXT", raw(2, 3, b"ab\0cde"))],
        "text_negative_size": [("TXT", raw(2, -1, b"tail"))],
        "text_latin1": [("TXT", raw(2, 1, b"\xe9\xff"))],
        "text_huge_size": [("TXT", raw(2, 0x7FFF, b"x" * 16))],
        "duplicate_keys": [("NPT", 1), ("FXV", 2.0), ("NPT", 3)],
        "name_nul_lead": [(b"\0XYZ", 1)],
        "name_short": [(b"AB\0\0", 1)],
        "name_end_space": [(b"END ", 1)],
        "name_bad_utf8": [(b"\xff\xfeAB", 1)],
        "name_utf8": [("\u00e9A".encode(), 1)],
    }
    for name, entries in cases.items():
        yield f"params_{name}", w.opus(two_d(), w.Block(w.param_bytes(entries), param=w.INSTRUMENT))
    yield "params_no_end", w.opus(two_d(), w.Block(w.param_bytes([("NPT", 1)], end=False), param=w.INSTRUMENT))
    yield "params_data_no_end", w.opus(
        w.data_block("AB", w.floats([1, 2])), w.Block(w.param_bytes([("NPT", 2)], end=False), param=1, data=4, sample=3))
    yield "params_offset_past_end", w.opus(two_d(), w.Block(w.param_bytes(INS="X"), param=w.INSTRUMENT, offset=1 << 20))
    yield "params_offset_negative", w.opus(two_d(), w.Block(w.param_bytes(INS="X"), param=w.INSTRUMENT, offset=-8))


def directory_files():
    """Broken headers and directories."""
    good = list(w._flatten(two_d()))
    yield "magic_only", w.MAGIC
    yield "magic_swapped", w.opus(two_d(), magic=b"\xfe\xfe\x0a\x0a")
    yield "header_only", w.opus()[:24]
    yield "dir_size_negative", w.opus(two_d(), dir_size=-1)
    yield "dir_size_huge", w.opus(two_d(), dir_size=0x7FFFFFFF)
    yield "dir_offset_negative", w.opus(two_d(), offset_to_directory=-4)
    yield "dir_offset_past_end", w.opus(two_d(), offset_to_directory=1 << 30)
    yield "dir_offset_zero", w.opus(two_d(), offset_to_directory=0)
    ext = w.Block(b"", data=4, sample=3, in_extension=True)
    yield "ext64_count_huge", w.opus(good, ext, sixfour_count=2**62)
    yield "ext64_count_negative", w.opus(good, ext, sixfour_count=-3)
    yield "ext64_at_past_end", w.opus(good, ext, extension_at=1 << 30)
    yield "ext64_at_negative", w.opus(good, ext, extension_at=-16)
    yield "ext64_at_zero", w.opus(good, ext, extension_at=0)
    yield "ext64_twice", w.opus(good, w.Block(b"\0" * 16, extend=w.EXT_DIR64), ext)
    for word in (-1, 0, 4111, 32 << 10 | 3 << 2, 33 << 10 | 1 << 2, 40 << 10 | 3 << 2, 7 << 10 | 3 << 2,
                 4 << 10 | 3 << 2 | 11 << 19, 4 << 10 | 3 << 2 | 64 << 19 | 1 << 26, 0x7FFFFFFF):
        yield f"word_{word & 0xFFFFFFFF:08x}", w.opus(w.Block(w.floats([1, 2]), word=word))


def rough_blocks():
    """Blocks of the 3D, annotation and image kinds laid out by hand, loosely."""
    store = struct.pack("<iiii", 1, 16, 16, 0) + struct.pack("<iii", 0, 2, 0) + w.floats([1, 2, 3, 4]) * 4
    yield "3d_rough", w.opus(w.data_block("AB", store, extend=w.EXT_3D), w.params(name="AB", extend=w.EXT_3D,
                                                                                   **DATA_KEYS, **MAP_KEYS))
    yield "3d_trc_rough", w.opus(w.data_block("TRC", store, extend=w.EXT_3D), w.params(name="TRC", **DATA_KEYS))
    yield "annotation_rough", w.opus(two_d(), w.Block(struct.pack("<iiii", 2, 1, 3, 0) + b"PNT\0" * 4,
                                                      extend=w.EXT_ANNOTATION, param=1))
    png = b"\x89PNG\r\n\x1a\n" + b"\0" * 24
    jpg = b"\xff\xd8\xff\xe0\0\x10JFIF" + b"\0" * 20
    pictures = struct.pack("<ii", 2, 0) + w.param_bytes(NAM="a", SIZ=len(png)) + png + w.param_bytes(NAM="b") + jpg
    yield "image_rough", w.opus(two_d(), w.Block(pictures, extend=w.EXT_IMAGE))


CUBE = [[[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], [[7.0, 8.0, 9.0], [10.0, 11.0, 12.0]]]  # 2 rows, 2 columns, 3 points
GRID = dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0)


def region_map(name, trace=False):
    rows = w.region_rows(1, [(0.0, 0.0), (1.0, 0.0)]) + w.region_rows(2, [(5.0, 5.0)], first_index=3) \
        + w.region_rows(3, [(0.0, 1.0), (1.0, 1.0)], nx=2, ny=1, ary_type=1, first_index=4)
    records = [[float(i), float(i) + 0.5, 1.0] for i in range(5)]
    if trace:
        records = [[float(i)] * 5 for i in range(3)]  # three traces over five points
    return [w.data3d(name, records, labels=[f"t{i}" for i in range(len(records))], times=range(len(records))),
            w.annotation_block(w.anno_table(w.REGION_COLUMNS, rows))]


def three_d_files():
    """3D blocks of every kind: image maps (per position, transposed, traces, derived with the
    underived grid), time-resolved series, multi-region maps, and odd store tables."""
    yield "map_per_position", w.opus(w.image_map("AB", CUBE))
    yield "map_transposed", w.opus(w.image_map("AB", CUBE, transposed=True))
    yield "map_trc", w.opus(w.data3d("TRC", [[1.0, 2.0, 3.0, 4.0]] * 2, labels=["a", "b"], NPX=2, NPY=2, **GRID))
    yield "map_derived_empty_grid", w.opus(
        w.data3d("AB", [c for row in CUBE for c in row], deriv=1, NPX=0, NPY=0, **GRID),
        w.params(name="AB", extend=w.EXT_3D, NPX=2, NPY=2, **GRID))
    yield "map_empty_grid", w.opus(w.data3d("AB", [[1.0, 2.0]] * 2, NPX=0, NPY=0, **GRID))
    yield "map_grid_too_small", w.opus(w.data3d("AB", [[1.0, 2.0]] * 5, NPX=2, NPY=1, **GRID))
    yield "map_float_npx", w.opus(w.data3d("AB", [[1.0, 2.0]] * 4, NPX=2.0, NPY=2, **GRID))
    yield "series", w.opus(w.data3d("AB", [[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], times=[0.5, 1.5]))
    yield "series_trc", w.opus(w.data3d("TRC", [[1.0, 2.0], [3.0, 4.0]], labels=["x", "y\u00e9"]))
    yield "series_ch2", w.opus(w.data3d("AB-CH2", [[1.0, 2.0]] * 3))
    yield "series_npt_past_block", w.opus(w.data3d("AB", [[1.0, 2.0]] * 2, npt=50))
    yield "regions", w.opus(region_map("AB"))
    yield "regions_trc", w.opus(region_map("TRC", trace=True))
    for label, entries in {"gap": [(0, 0), (-1, 16), (1, 1)], "negative_gap": [(0, 1), (-1, -40), (2, 2)],
                           "duplicates": [(0, 1), (1, 2)], "reversed": [(3, 1), (0, 1)],
                           "huge_run": [(0, 2**31 - 1)]}.items():
        yield f"store_{label}", w.opus(w.data3d("AB", [[1.0, 2.0]] * 3, entries=entries))
    # Records past a huge gap or a far block offset: the table claims them, the file ends first.
    yield "store_huge_gap", w.opus(w.data3d("AB", [[1.0, 2.0]], entries=[(0, 0), (-1, 2**31 - 1), (1, 1)]))
    for label, table in {"entries_negative": dict(number_of_entries=-1), "entries_huge": dict(number_of_entries=2**30),
                         "stored_huge": dict(stored_blocks=2**31 - 1)}.items():
        yield f"store_{label}", w.opus(w.data3d("AB", [[1.0, 2.0]] * 2, table=table))
    # Block offsets before the block or far past the file: patched into a good table.
    for label, at in {"offset_negative": -64, "offset_past_end": 2**30}.items():
        blocks = w.data3d("AB", [[1.0, 2.0]] * 2)
        blocks[0].payload = blocks[0].payload[:8] + struct.pack("<i", at) + blocks[0].payload[12:]
        yield f"store_{label}", w.opus(blocks)
    yield "store_block_size_zero", w.opus(w.data3d("AB", [[1.0]] * 3, block_size=0))
    yield "store_info_size_small", w.opus(w.data3d("TRC", [[1.0]] * 2, info_size=8, labels=["a", "b"]))
    odd = w.anno_table([("Group", w.ANNO_INT), ("Name", w.ANNO_TEXT), ("Odd", 7), ("V", w.ANNO_FLOAT)],
                       [(1, "a", 0, 1.5), (1, "b\u00e9", 0, 2.5)])
    yield "annotation_odd_types", w.opus(w.data3d("AB", [[1.0]] * 2), w.annotation_block(odd))
    yield "annotation_missing_siz", w.opus(w.data3d("AB", [[1.0]]), w.annotation_block(
        w.anno_table([("Group", w.ANNO_INT)], [(1,)], SIZ=None)))
    yield "annotation_zero_row_length", w.opus(w.data3d("AB", [[1.0]]), w.annotation_block(
        w.anno_table([("Group", w.ANNO_INT)], [(1,)] * 3, SRC=0, NLN=1000)))


def picture_files():
    """Image blocks: pictures of each type, several directories, odd records."""
    pics = [w.Picture(w.png(), title="P"), w.Picture(w.jpeg(), attrs={"Zoom": 2.5}), w.Picture(w.gif()),
            w.Picture(w.bmp(), lead=b"\0" * 6), w.Picture(w.jpeg(b"Exif"), T00=3)]
    yield "images", w.opus(two_d(), w.image_block(pics))
    yield "images_two_directories", w.opus(w.image_block(w.ImageDir(), pics[:2], w.ImageDir(), pics[2:]))
    yield "images_no_bid", w.opus(w.image_block(w.ImageDir(bid=0), pics[:1]))
    yield "images_nrp_huge", w.opus(w.image_block(w.ImageDir(nrp=2**30), pics[:1]))
    yield "images_offset_back", w.opus(w.image_block(w.ImageDir(entries={"F00": 0}), pics[:2]))
    yield "images_size_negative", w.opus(w.image_block(w.ImageDir(entries={"Z00": -5}), pics[:1]))
    yield "images_title_int", w.opus(w.image_block(w.Picture(w.png(), title=7)))
    yield "images_two_blocks", w.opus(w.image_block(pics[:1]), w.image_block(pics[1:2]))


def writer_scenarios():
    """Builders a later writer may offer for whole scenario files."""
    for name in ("scenario_files", "corpus_scenarios"):
        if hasattr(w, name):
            yield from getattr(w, name)()


def truncations(name, data):
    """The file cut at the end of each part and inside fields."""
    cuts = sorted({3, 4, 11, 12, 20, 24, 30, 36, len(data) // 2, len(data) - 5, len(data) - 1})
    for cut in cuts:
        if 0 <= cut < len(data):
            yield f"{name}_cut{cut}", data[:cut]


# Files also written cut short at several places.
TRUNCATED = {"2d_AB", "2d_ch2", "ext64", "2d_all_param_kinds", "demo_like", "2d_many_blocks", "3d_rough",
             "3d_trc_rough", "annotation_rough", "image_rough", "map_per_position", "map_transposed", "map_trc",
             "series", "series_trc", "regions", "regions_trc", "images", "images_two_directories"}


MAX_SCENARIO_BYTES = 64 * 1024  # seeds stay small: the fuzzer mutates faster, the tests write them quickly


def scenarios():
    """(name, bytes) for every seed file."""
    for name, data in _all_scenarios():
        if len(data) > MAX_SCENARIO_BYTES:
            raise ValueError(f"scenario {name} is {len(data)} bytes, more than a seed should be")
        yield name, data


def _all_scenarios():
    for name, data in good_files():
        yield name, data
        if name in TRUNCATED:
            yield from truncations(name, data)
    yield from param_files()
    yield from directory_files()
    for group in (rough_blocks, three_d_files, picture_files, writer_scenarios):
        for name, data in group():
            yield name, data
            if name in TRUNCATED:
                yield from truncations(name, data)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("out", type=pathlib.Path)
    ap.add_argument("--samples", type=pathlib.Path, help="folder of real files to copy in (skipped when absent)")
    args = ap.parse_args(argv)
    args.out.mkdir(parents=True, exist_ok=True)
    count = 0
    for name, data in scenarios():
        (args.out / f"{name}.0").write_bytes(data)
        count += 1
    copied = 0
    if args.samples and args.samples.is_dir():
        for path in sorted(args.samples.rglob("*")):
            if path.is_file() and path.suffix != ".md":
                shutil.copyfile(path, args.out / f"sample_{copied:03d}_{path.name}")
                copied += 1
    print(f"corpus: {count} scenario files, {copied} real files in {args.out}")


if __name__ == "__main__":
    main()
