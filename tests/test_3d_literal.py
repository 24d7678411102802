"""kestrel against the literal model (tests/literal_3d.py) on many generated 3D files, good and damaged:
the same result in every attribute, or the same first error (type and message), and the same printed
lines and warnings."""

import pytest

from compare_3d import compare, generated, s32
from opusfile import (ANNO_FLOAT, ANNO_INT, ANNO_TEXT, EXT_3D, INFO_SIZE, REGION_COLUMNS, anno_table, annotation_block,
                      block3d, data3d, data_block, image_map, opus, params, record, region_rows)

SEEDS = range(120)


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("kind", ["series", "image", "region"])
def test_generated_files_read_as_the_literal_algorithm_reads_them(write, kind, seed):
    data, triple = generated(kind, seed)
    compare(write(data), triple)


def cube(npy, npx, npt):
    return [[[100.0 * r + 10.0 * c + p + 0.25 for p in range(npt)] for c in range(npx)] for r in range(npy)]


def region_file(name="AB", trace=False):
    npt = 3
    if trace:
        records = [[float(10 * k + p) for p in range(npt)] for k in range(2)]
        rows = region_rows(1, [(0.5, 1.5), (2.5, 3.5)], first_index=1) + region_rows(2, [(4.0, 5.0)], first_index=3)
    else:
        records = [[float(10 * k + p) for p in range(npt)] for k in range(3)]
        rows = region_rows(1, [(0.5, 1.5), (2.5, 3.5)], first_index=0) + region_rows(2, [(4.0, 5.0)], first_index=2)
    return [annotation_block(anno_table(REGION_COLUMNS, rows)),
            data3d(name, records, times=[1.0, 2.0, 3.0][:len(records)], labels=["t1", "t2", "t3"][:len(records)],
                   params_first=True)]


# Files whose blocks are laid out so that cutting them short lands in every part in turn: the
# parameter blocks, the store table header and entries, record values, info areas (before, inside and
# after the time), labels, and the annotation directory, descriptions and rows.
TRUNCATED = {
    "series": lambda: opus(data3d("AB", [[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]], times=[0.5, 1.5, 2.5],
                                  params_first=True)),
    "trace series": lambda: opus(data3d("TRC", [[1.0, 2.0], [3.0, 4.0]], labels=["first", "second"],
                                        params_first=True)),
    "map": lambda: opus(image_map("AB", cube(2, 2, 3), params_first=True)),
    "transposed map": lambda: opus(image_map("AB", cube(2, 2, 3), transposed=True, params_first=True)),
    "trace map": lambda: opus(image_map("TRC", cube(2, 1, 2), transposed=True, labels=["a", "b"],
                                        params_first=True)),
    "regions": lambda: opus(region_file()),
    "trace regions": lambda: opus(region_file("TRC", trace=True)),
}


@pytest.mark.parametrize("name", TRUNCATED)
def test_files_cut_short_anywhere_fail_as_the_literal_algorithm_fails(write, name):
    data = TRUNCATED[name]()
    triple = ("TRC" if "trace" in name else "AB", "3D", "NONE")
    # Every byte of the last 600 (records, annotation rows), every 4th byte before that.
    tail = max(24, len(data) - 600)
    for cut in range(24, len(data)):
        if cut >= tail or cut % 4 == 0:
            compare(write(data[:cut], name="cut.0"), triple)


def store(name, records, entries, *, block_size, info_size=INFO_SIZE, extra=None, **table):
    """A 3D block whose store table is written as given, its records placed where the table says."""
    payload = block3d(records, entries, block_size=block_size, info_size=info_size, **table)
    p = dict(NPT=block_size // 4, FXV=1.0, LXV=2.0, MNY=0.0, MXY=9.0)
    p.update(extra or {})
    return [params(p, name=name, extend=EXT_3D), data_block(name, payload, extend=EXT_3D)]


def recs(n, npt=2, **kw):
    return [record([float(10 * k + p) for p in range(npt)], time=k / 2, label=f"L{k}", **kw) for k in range(n)]


GRID = dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0, NPX=2, NPY=1)
DAMAGED = {
    "records past the end of the file": store("AB", recs(2), [(0, 1), (-1, 10**6), (2, 3)], block_size=8),
    "trace records past the end": store("TRC", recs(2), [(0, 1), (-1, 10**6), (2, 3)], block_size=8),
    "a negative block offset": store("AB", [], [(0, 1)], block_size=8, block_offset=-10**5),
    "a negative gap before the block": store("AB", [], [(-1, -10**6), (0, 0)], block_size=8),
    "a negative gap that rereads a record": store("AB", recs(3), [(0, 1), (-1, -2 * (8 + INFO_SIZE)), (5, 5)],
                                                  block_size=8),
    "duplicate numbers, the later offset wins": store("AB", recs(4), [(0, 1), (1, 2)], block_size=8),
    "duplicate numbers in a trace series": store("TRC", recs(4), [(0, 2), (1, 1)], block_size=8),
    "an empty store table": store("AB", [], [], block_size=8),
    "an empty trace store table": store("TRC", [], [], block_size=8),
    "a negative entry count": store("AB", recs(1), [(0, 0)], block_size=8, number_of_entries=-3),
    "a run (4, 2) assigns nothing": store("AB", recs(1), [(4, 2), (0, 0)], block_size=8),
    "a label area shorter than 152 bytes": store("TRC", recs(2, info_size=144), [(0, 1)], block_size=8,
                                                 info_size=144),
    "a label area of 151 bytes": store("TRC", recs(2, info_size=151), [(0, 1)], block_size=8, info_size=151),
    "an info area without a time": store("AB", recs(2, info_size=100), [(0, 1)], block_size=8, info_size=100),
    "a block size that is not 4 x NPT": store("AB", recs(2, npt=3), [(0, 1)], block_size=12,
                                              extra=dict(NPT=2)),
    "one-value short record that broadcasts": store("AB", recs(1, npt=3)[:1] + [record([7.0])[:4]], [(0, 1)],
                                                    block_size=12, extra=dict(GRID, NPT=3)),
    "two-value short record that does not": store("AB", recs(1, npt=3)[:1] + [record([7.0, 8.0])[:8]],
                                                  [(0, 1)], block_size=12, extra=dict(GRID, NPT=3)),
    "more records than cells": store("AB", recs(3), [(0, 2)], block_size=8, extra=GRID),
    "transposed with more records than points": store("AB", recs(4), [(0, 3)], block_size=8, stored_blocks=3,
                                                      extra=dict(GRID, NPT=3)),
    "transposed with neither flag": store("AB", recs(3), [(0, 2)], block_size=12, stored_blocks=5,
                                          extra=dict(GRID, NPT=2)),
    "neither flag and a negative offset": store("AB", [], [(-1, -10**6), (0, 0)], block_size=12,
                                                stored_blocks=5, extra=dict(GRID, NPT=2)),
    "both flags and records past the end": store("AB", recs(1), [(0, 0), (-1, 10**9), (1, 9)], block_size=8,
                                                 stored_blocks=2, extra=dict(GRID, NPT=2, NPX=1, NPY=2)),
    "trace map whose NPT is not NPX x NPY": store("TRC", recs(2, npt=3), [(0, 1)], block_size=12,
                                                  extra=dict(GRID, NPT=3)),
    "NPX 0 with derivative NONE": store("AB", recs(2), [(0, 1)], block_size=8, extra=dict(GRID, NPX=0)),
    "NPX 0 trace map": store("TRC", recs(2, npt=0), [(0, 1)], block_size=0, extra=dict(GRID, NPX=0, NPT=0)),
    "five map keys only": store("AB", recs(2), [(0, 1)], block_size=8,
                                extra={k: v for k, v in GRID.items() if k != "DDY"}),
    "a record at a huge offset": store("AB", recs(1), [(0, 0), (-1, 2**31 - 1), (-1, 2**31 - 1), (1, 1)],
                                       block_size=8),
    "a huge gap in a map with neither flag": store("AB", recs(1), [(0, 0)] + [(-1, 2**31 - 1)] * 9 + [(1, 4)],
                                                   block_size=12, stored_blocks=7, extra=dict(GRID, NPT=2)),
}


@pytest.mark.parametrize("name", DAMAGED)
def test_damaged_store_tables_fail_as_the_literal_algorithm_fails(write, name):
    blocks = DAMAGED[name]
    compare(write(opus(blocks)), ("TRC" if blocks[0].data == 7 else "AB", "3D", "NONE"))


def derived(npx_zero_in, original=None, deriv=1, name="AB"):
    c = cube(2, 3, 2)
    blocks = image_map(name, c, deriv=deriv, AOX=5.0, DDX=-0.5)
    blocks[1] = params(dict(NPT=2, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, AOX=0.0, AOY=0.0, DDX=0.0, DDY=0.0,
                            NPX=0 if npx_zero_in == "NPX" else 3, NPY=0 if npx_zero_in == "NPY" else 2),
                       name=name, deriv=deriv, extend=EXT_3D)
    if original is not None:
        blocks.append(params(original, name=name, deriv=0, extend=EXT_3D))
    return blocks


ORIGINAL = dict(AOX=5.0, AOY=1.0, DDX=-0.5, DDY=2.0, NPX=3, NPY=2)


@pytest.mark.parametrize("blocks", [
    derived("NPX", ORIGINAL), derived("NPY", ORIGINAL), derived("NPX", ORIGINAL, deriv=3),
    derived("NPX", ORIGINAL, name="TRC"),
    derived("NPX", None),                                        # no underived block: getParams(-1)
    derived("NPX", {k: v for k, v in ORIGINAL.items() if k != "DDY"}),
    derived("NPX", dict(ORIGINAL, NPX=0)),                       # the original has no grid either
], ids=["npx", "npy", "nder", "trace", "no-original", "original-without-DDY", "original-npx-0"])
def test_derived_maps_without_a_grid_fall_back_as_the_literal_algorithm_does(write, blocks):
    deriv = blocks[0].deriv
    compare(write(opus(blocks)), (["AB", "TRC"][blocks[0].data == 7], "3D", ["NONE", "1DER", "2DER", "NDER"][deriv]))


def annotation_variant(columns, rows, *extra_tables, name="AB", npt=2, records=3):
    values = [[float(10 * k + p) for p in range(npt)] for k in range(records)]
    return [data3d(name, values, times=[0.25 * k for k in range(records)],
                   labels=[f"T{k}" for k in range(records)]),
            annotation_block(*extra_tables, anno_table(columns, rows))]


def cols(*replace, drop=()):
    return [(n, dict(replace).get(n, t)) for n, t in REGION_COLUMNS if n not in drop]


ROWS = region_rows(1, [(0.5, 1.0), (1.5, 2.0)], first_index=0) + region_rows(4, [(3.0, 4.0)], first_index=2)
ANNOTATIONS = {
    "free points": (cols(), ROWS),
    "a grid region": (cols(), region_rows(2, [(0, 0), (1, 0), (0, 1), (1, 1)], nx=2, ny=2, first_index=0)),
    "Type not 0": (cols(), region_rows(1, [(0, 0)], row_type=1) + region_rows(2, [(1, 1)], first_index=0)),
    "NSPEC 0 with AryType 1": (cols(), region_rows(3, [(0, 0), (1, 1)], ary_type=1, first_index=0)),
    "Fileindex not stored": (cols(), region_rows(1, [(0, 0), (1, 1), (2, 2)], first_index=1)),
    "Fileindex as float": (cols(("Fileindex", ANNO_FLOAT)), ROWS),
    "Group as float": (cols(("Group", ANNO_FLOAT)), ROWS),
    "Group as text": (cols(("Group", ANNO_TEXT)), [[str(r[0])] + list(r[1:]) for r in ROWS]),
    "X as text": (cols(("X", ANNO_TEXT)), [list(r[:6]) + ["1.5", r[7]] for r in ROWS]),
    "X as bad text": (cols(("X", ANNO_TEXT)), [list(r[:6]) + ["east", r[7]] for r in ROWS]),
    "rows run past the lists": (cols(), region_rows(1, [(0, 0), (1, 1)], nx=3, ny=1, first_index=0)),
    "empty Group column": (cols(), []),
    **{f"{c} missing": (cols(drop=[c]), [tuple(v for (n, _), v in zip(REGION_COLUMNS, r) if n != c) for r in ROWS])
       for c in ["Group", "Type", "AryNX", "AryNY", "AryType", "Fileindex", "X", "Y"]},
}


@pytest.mark.parametrize("trace", [False, True], ids=["spectra", "traces"])
@pytest.mark.parametrize("name", ANNOTATIONS)
def test_annotation_variants_read_as_the_literal_algorithm_reads_them(write, name, trace):
    columns, rows = ANNOTATIONS[name]
    if trace:  # trace file indices count points from 1
        k = [c for c, _ in columns].index("Fileindex") if "Fileindex" in dict(columns) else None
        rows = [tuple(v + 1 if i == k and isinstance(v, int) else v for i, v in enumerate(r)) for r in rows]
    blocks = annotation_variant(columns, rows, name="TRC" if trace else "AB", npt=3)
    compare(write(opus(blocks)), ("TRC" if trace else "AB", "3D", "NONE"))


@pytest.mark.parametrize("findex", [0, 1, 3, 4, -1, -3, -4])
def test_trace_regions_index_points_from_one_with_numpys_negative_indexing(write, findex):
    """Fileindex 0 reads the last point; past NPT (or before -NPT) numpy raises IndexError."""
    rows = region_rows(1, [(0.5, 1.0)], first_index=findex)
    compare(write(opus(annotation_variant(REGION_COLUMNS, rows, name="TRC", npt=3))), ("TRC", "3D", "NONE"))


@pytest.mark.parametrize("code", [7, 0, -1, 999, 1100, 6])
def test_unknown_annotation_columns_warn_and_read_nothing(write, code):
    columns = REGION_COLUMNS[:3] + [("Odd", code)] + REGION_COLUMNS[3:]
    rows = [tuple(r[:3]) + (None,) + tuple(r[3:]) for r in ROWS]
    compare(write(opus(annotation_variant(columns, rows))), ("AB", "3D", "NONE"))


@pytest.mark.parametrize("tables", [
    [anno_table([("N", ANNO_INT), ("Name", ANNO_TEXT)], [(1, "x"), (2, "y")], text=8)],  # a table before
    [anno_table([("Group", ANNO_INT)], [(9,), (9,)])],                  # replaced by the later table
    [anno_table([("Gone", ANNO_INT)], [(1,)], SRC=None)],               # skipped
    [anno_table([("Note", ANNO_TEXT), ("Odd", 5000)], [("n1", None)], text=4)],
])
def test_several_annotation_tables(write, tables):
    compare(write(opus(annotation_variant(REGION_COLUMNS, ROWS, *tables))), ("AB", "3D", "NONE"))


@pytest.mark.parametrize("override", [
    dict(NRP=2), dict(NRP=0), dict(F00=None), dict(NRP=2**31 - 1), dict(F00=2**20), dict(F00=-100),
])
def test_annotation_directories(write, override):
    blocks = annotation_variant(REGION_COLUMNS, ROWS)
    blocks[1] = annotation_block(anno_table(REGION_COLUMNS, ROWS), **override)
    compare(write(opus(blocks)), ("AB", "3D", "NONE"))


@pytest.mark.parametrize("override", [
    dict(NLN=2**31 - 1), dict(NLN=0), dict(NLN=-5), dict(SIZ=10**7), dict(SRC=0, NLN=3), dict(SRC=-4),
    dict(NCO=2), dict(NCO=20), dict(S01=None), dict(T05=ANNO_FLOAT), dict(T00=1000), dict(F00=-8, T00=1000),
    dict(SRC=1.5), dict(SRC="long"),
])
def test_annotation_descriptions(write, override):
    blocks = annotation_variant(REGION_COLUMNS, ROWS)
    blocks[1] = annotation_block(anno_table(REGION_COLUMNS, ROWS, **override))
    compare(write(opus(blocks)), ("AB", "3D", "NONE"))


def test_signed_store_fields_are_read_signed(write):
    """Fields with the high bit set read as negative ints, as "<i" gives them."""
    payload = bytearray(block3d(recs(2), [(0, 1)], block_size=8))
    payload[4:8] = (0xFFFFFFFE).to_bytes(4, "little")  # stored blocks -2
    assert s32(0xFFFFFFFE) == -2
    blocks = [params(dict(NPT=2, FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0, **GRID), name="AB", extend=EXT_3D),
              data_block("AB", bytes(payload), extend=EXT_3D)]
    compare(write(opus(blocks)), ("AB", "3D", "NONE"))
