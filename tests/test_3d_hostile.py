"""Hostile counts in 3D blocks: each call ends (in a child interpreter, which a hang would fail) without
memory beyond what the file backs, with the literal algorithm's outcome where that is sound. Where the
literal outcome is not sound (a walk over 2**31 records that would exhaust memory first), kestrel refuses
with MemoryError."""

import re

import pytest

import child
from compare_3d import compare
from opusfile import (ANNO_INT, ANNO_TEXT, EXT_3D, REGION_COLUMNS, anno_table, annotation_block, block3d,
                      data_block, opus, params, record, region_rows)

BIG = 2**31 - 1
AXES = dict(FXV=1.0, LXV=2.0, MNY=0.0, MXY=1.0)
GRID = dict(AOX=0.0, AOY=0.0, DDX=1.0, DDY=1.0)


def block(name, payload, **p):
    return [params(dict(AXES, **p), name=name, extend=EXT_3D), data_block(name, payload, extend=EXT_3D)]


def two_records(info_size=216):
    return [record([1.0, 2.0], info_size=info_size, label="a"), record([3.0, 4.0], info_size=info_size)]


def regions(name, findex=1):
    return annotation_block(anno_table(REGION_COLUMNS, region_rows(1, [(0.0, 0.0)], first_index=findex)))


HOSTILE = {
    # (blocks, request type, expected outcome: an exception type, or a result class name)
    "store table claiming 2**31-1 entries": (
        block("AB", block3d(two_records(), [(0, 1)], block_size=8, number_of_entries=BIG), NPT=2), "AB", "error"),
    "run (0, 2**31-1) in a series": (
        block("AB", block3d(two_records(), [(0, BIG)], block_size=8), NPT=2), "AB", "error"),
    "run (0, 2**31-1) in a per-position map": (
        block("AB", block3d(two_records(), [(0, BIG)], block_size=8, stored_blocks=5), NPT=2, NPX=1, NPY=2,
              **GRID), "AB", "IndexError"),
    "run (0, 2**31-1) in a transposed map": (
        block("AB", block3d(two_records(), [(0, BIG)], block_size=8, stored_blocks=3), NPT=3, NPX=2, NPY=1,
              **GRID), "AB", "ValueError"),
    "run (0, 2**31-1) in a trace map": (
        block("TRC", block3d(two_records(), [(0, BIG)], block_size=8), NPT=2, NPX=2, NPY=1, **GRID), "TRC",
        "ValueError"),
    "run (0, 2**31-1) in regions": (
        block("AB", block3d(two_records(), [(0, BIG)], block_size=8), NPT=2) + [regions("AB")], "AB",
        "MultiRegionDataReturn"),
    "annotation table claiming 2**31-1 rows": (
        block("AB", block3d(two_records(), [(0, 1)], block_size=8), NPT=2)
        + [annotation_block(anno_table(REGION_COLUMNS, region_rows(1, [(0.0, 0.0)]), NLN=BIG))], "AB", "error"),
    "annotation table claiming 2**31-1 tables": (
        block("AB", block3d(two_records(), [(0, 1)], block_size=8), NPT=2)
        + [annotation_block(anno_table(REGION_COLUMNS, region_rows(1, [(0.0, 0.0)])), NRP=BIG)], "AB", "KeyError"),
    "NPX x NPY x NPT past 64 bits": (
        block("AB", block3d([], [], block_size=8), NPT=2**21, NPX=2**22, NPY=2**22, **GRID), "AB", "ValueError"),
}

# Outcomes the literal reading cannot reach in reasonable time or memory: kestrel's refusal is checked
# on its own.
REFUSED = {
    "run (0, 2**31-1) in a trace series": (
        block("TRC", block3d(two_records(), [(0, BIG)], block_size=8), NPT=2), "TRC", "MemoryError"),
    "run (0, 2**31-1) in trace regions": (
        block("TRC", block3d(two_records(), [(0, BIG)], block_size=8), NPT=2) + [regions("TRC")], "TRC",
        "MemoryError"),
    "run (0, 2**31-1) in a map with neither layout": (
        block("AB", block3d(two_records(), [(0, BIG)], block_size=8, stored_blocks=7), NPT=3, NPX=2, NPY=2,
              **GRID), "AB", "ImageDataReturn"),
    "annotation text rows claiming 2**31-1 rows": (
        block("AB", block3d(two_records(), [(0, 1)], block_size=8), NPT=2)
        + [annotation_block(anno_table([("Group", ANNO_TEXT)], [("1",)], NLN=BIG, SRC=0))], "AB", "MemoryError"),
    "NPX, NPY and NPT all 2**31-1": (
        block("AB", block3d([], [], block_size=8), NPT=BIG, NPX=BIG, NPY=BIG, **GRID), "AB", "MemoryError"),
}

def probe(path, name):
    """The outcome (a result class or exception type) and peak RSS growth (KiB) of one call in a fresh
    interpreter; a call that does not end is failed as a hang."""
    (_, outcome, _), grown_kib = child.call("getOpusData", path, (name, "3D", "NONE"))
    return outcome, grown_kib


@pytest.mark.parametrize("case", HOSTILE)
def test_hostile_counts_end_as_the_literal_algorithm_ends(write, case):
    blocks, name, expected = HOSTILE[case]
    path = write(opus(blocks))
    outcome, grown_kib = probe(path, name)
    assert outcome == expected and grown_kib < 300 * 1024
    compare(path, (name, "3D", "NONE"))


@pytest.mark.parametrize("case", REFUSED)
def test_hostile_counts_the_literal_algorithm_cannot_finish_are_refused(write, case):
    blocks, name, expected = REFUSED[case]
    outcome, grown_kib = probe(write(opus(blocks)), name)
    assert outcome == expected and grown_kib < 64 * 1024


def test_a_walk_past_the_record_cap_is_refused_with_memory_error(write):
    """A stretch of 2**31 records past the end of the file reads nothing each; the walk stops at the
    record cap with MemoryError, at once."""
    path = write(opus(block("TRC", block3d([], [(0, BIG)], block_size=0), NPT=0)))
    (kind, name, message), grown_kib = child.call("getOpusData", path, ("TRC", "3D", "NONE"))
    assert (kind, name) == ("raise", "MemoryError") and re.search(r"more than \d+ records", message)
    assert grown_kib < 64 * 1024


def test_regression_trace_records_past_the_end_are_decided_in_bulk(write):
    """A trace series whose run reaches far past the end: the first records read, the rest give empty
    rows, and stacking fails as the literal reading does; no walk of a million records one by one."""
    path = write(opus(block("TRC", block3d(two_records(), [(0, 2**20)], block_size=8), NPT=2)))
    (kind, name, message), grown_kib = child.call("getOpusData", path, ("TRC", "3D", "NONE"))
    assert (kind, name) == ("raise", "ValueError") and message.startswith("all the input array dimensions")
    assert grown_kib < 64 * 1024
    negative = write(opus(block("TRC", block3d(two_records(), [(0, 1), (-1, -10**6), (2, 2**20)], block_size=8),
                                NPT=2)))
    compare(negative, ("TRC", "3D", "NONE"))
    trace_map = write(opus(block("TRC", block3d([record([1.0, 2.0])], [(0, 3)], block_size=8), NPT=0,
                                 NPX=0, NPY=5, **GRID)))
    compare(trace_map, ("TRC", "3D", "NONE"))


@pytest.mark.parametrize("grid, entries, outcome", [
    ((65536, 65536), [(0, BIG)], (65536, 65536, 0)),     # every record lands in the grid: an empty cube
    ((100, 100), [(0, BIG)], IndexError),                # record 10000 is past the grid
    ((3, 2), [(0, 1), (-1, -10**6), (2, 9)], OSError),   # record 2 lies before the start of the file
])
def test_regression_empty_spectra_map_is_decided_per_run(write, grid, entries, outcome):
    """A per-position map with NPT 0 reads nothing per record: a claimed run of 2**31 records is decided
    from its runs at once, with the literal reading's outcome (no walk up to the record cap)."""
    npx, npy = grid
    path = write(opus(block("AB", block3d([], entries, block_size=0, stored_blocks=5), NPT=0, NPX=npx, NPY=npy,
                            **GRID)))
    (kind, name, value), grown_kib = child.call("getOpusData", path, ("AB", "3D", "NONE"))
    if isinstance(outcome, tuple):
        assert (kind, name, value.spectra.shape) == ("ok", "ImageDataReturn", outcome)
    else:
        assert (kind, name) == ("raise", outcome.__name__)
    assert grown_kib < 64 * 1024
