"""The writer's 3D and annotation blocks read back through a literal reading of the format."""

import struct

import pytest

from opusfile import (ANNO_FLOAT, ANNO_INT, ANNO_TEXT, INFO_SIZE, REGION_COLUMNS, anno_table, annotation,
                      annotation_block, block3d, data3d, image_map, opus, record, region_rows)


def store_table(buf, at):
    version, stored, offset, size, info, n = struct.unpack_from("<6i", buf, at)
    entries = [struct.unpack_from("<ii", buf, at + 24 + 8 * i) for i in range(max(n, 0))]
    return dict(stored_blocks=stored, block_offset=at + offset, block_size=size, info_size=info, entries=entries)


def offsets(st):
    d, at = {}, st["block_offset"]
    for first, second in st["entries"]:
        if first == -1:
            at += second
            continue
        for n in range(first, second + 1):
            d[n] = at
            at += st["block_size"] + st["info_size"]
    return d


def params_at(buf, at):
    out = {}
    while True:
        key = buf[at:at + 4].decode().strip("\0")
        if key == "END":
            return out
        code, size = struct.unpack_from("<hh", buf, at + 4)
        at += 8
        if code == 0:
            out[key] = struct.unpack_from("<i", buf, at)[0]
            at += 4
        elif code == 1:
            out[key] = struct.unpack_from("<d", buf, at)[0]
            at += 8
        else:
            out[key] = buf[at:at + 2 * size].partition(b"\0")[0].decode()
            at += 2 * size


def anno(buf, at):
    result, directory = {}, params_at(buf, at + 12)
    for t in range(directory["NRP"]):
        base = at + directory["F{0:02d}".format(t)]
        desc = params_at(buf, base)
        if "SRC" not in desc:
            continue
        pos, text, cols = base + desc["SIZ"], -1, []
        for k in range(desc["NCO"]):
            nn = "{0:02d}".format(k)
            cols.append((desc["S" + nn], desc["T" + nn]))
            result[desc["S" + nn]] = []
            if 1000 <= desc["T" + nn] < 1100:
                text = max(text, desc["SRC"] - desc["F" + nn])
        for r in range(desc["NLN"]):
            pos = base + desc["SIZ"] + r * desc["SRC"]
            for name, code in cols:
                if code in (4, 5):
                    result[name].append(struct.unpack_from("<" + "if"[code - 4], buf, pos)[0])
                    pos += 4
                elif 1000 <= code < 1100:
                    result[name].append(buf[pos:pos + text].partition(b"\0")[0].decode())
                    pos += text
                else:
                    result[name].append(None)
    return result


def values_at(buf, at, n):
    return list(struct.unpack_from(f"<{n}f", buf, at))


def test_records_carry_values_time_and_label():
    """Each record holds its values, then the time at 136 and the label at 152 after them."""
    blocks = data3d("TRC", [[1, 2], [3, 4], [5, 6]], times=[0.0, 1.5, 3.0], labels=["a", "bc", ""])
    buf = blocks[0].payload
    st = store_table(buf, 0)
    assert (st["stored_blocks"], st["block_size"], st["info_size"]) == (3, 8, INFO_SIZE)
    for k, (n, at) in enumerate(offsets(st).items()):
        assert values_at(buf, at, 2) == [1 + 2 * k, 2 + 2 * k]
        assert struct.unpack_from("<d", buf, at + 8 + 136)[0] == 1.5 * k
        assert buf[at + 8 + 152:at + 8 + INFO_SIZE].partition(b"\0")[0] == ["a", "bc", ""][k].encode()
    assert blocks[1].extend == 10 and blocks[1].param == 1


def test_gaps_and_duplicate_runs_place_records_where_the_table_says():
    """A gap shifts later records; a number met again is read at its later record."""
    recs = [record([float(i)], info_size=160) for i in range(5)]
    buf = block3d(recs, [(0, 1), (-1, 100), (7, 7), (1, 2)], block_size=4, info_size=160)
    d = offsets(store_table(buf, 0))
    assert list(d) == [0, 1, 7, 2]
    assert [values_at(buf, d[n], 1)[0] for n in d] == [0.0, 3.0, 2.0, 4.0]
    assert d[7] - d[0] == 2 * 164 + 100


@pytest.mark.parametrize("transposed", [False, True])
def test_image_map_layouts(transposed):
    """Per-position records fill the grid row by row; transposed records each hold one point's image."""
    cube = [[[100 * r + 10 * c + p for p in range(4)] for c in range(3)] for r in range(2)]
    data, par = image_map("AB", cube, transposed=transposed)
    p = params_at(par.payload, 0)
    assert (p["NPX"], p["NPY"], p["NPT"]) == (3, 2, 4)
    buf = data.payload
    st = store_table(buf, 0)
    d = list(offsets(st).values())
    if transposed:
        assert (st["stored_blocks"], st["block_size"]) == (4, 24)
        assert values_at(buf, d[2], 6) == [cube[r][c][2] for r in range(2) for c in range(3)]
    else:
        assert (st["stored_blocks"], st["block_size"]) == (6, 16)
        assert values_at(buf, d[4], 4) == cube[1][1]


def test_annotation_tables_read_back():
    """Tables, text lengths, skipped tables and three-digit keys come out as written."""
    t0 = anno_table([("Name", ANNO_TEXT), ("N", ANNO_INT), ("Odd", 7), ("V", ANNO_FLOAT)],
                    [("first", 1, None, 0.5), ("second", 2, None, -1.0)], text=8)
    skipped = anno_table([("Gone", ANNO_INT)], [(1,)], SRC=None)
    regions = anno_table(REGION_COLUMNS, region_rows(1, [(0.0, 1.0), (2.0, 3.0)]) + region_rows(2, [(5.0, 6.0)], first_index=3))
    buf = annotation(t0, skipped, regions)
    got = anno(b"xx" + buf, 2)
    assert got["Name"] == ["first", "second"] and got["N"] == [1, 2] and got["V"] == [0.5, -1.0]
    assert "Gone" not in got and got["Odd"] == [None, None]
    assert got["Group"] == [1, 1, 2] and got["Fileindex"] == [1, 2, 3] and got["Y"] == [1.0, 3.0, 6.0]
    many = annotation(*([skipped] * 100 + [t0]))
    assert anno(many, 0)["N"] == [1, 2]
    assert params_at(many, 12)["NRP"] == 101 and "F100" in params_at(many, 12)


def test_blocks_list_as_3d(write):
    """A file with a 3D block and an annotation block lists the 3D block only."""
    kestrel = pytest.importorskip("kestrel")
    path = write(opus(data3d("AB", [[1.0, 2.0]] * 2), annotation_block(anno_table([("N", ANNO_INT)], [(1,)]))))
    assert kestrel.listContents(path) == [("AB", "3D", "NONE")]
