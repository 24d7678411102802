"""getOpusData: request checks, block selection, parameter merge and 2D spectra."""

import struct
import warnings

import numpy as np
import pytest

import kestrel
from conftest import sample_files
from opusfile import (ACQUISITION, FT, INSTRUMENT, OPTICS, SAMPLE, Block, Raw, data_block, floats, name_fields,
                      opus, params, spectrum)

DIMS_MSG = "Incorrect dimensions: {}. Dimensions need to be either 2D or 3D"
TYPE_MSG = ("Invalid data block type: {}. Please enter a valid entry from the following: REFL, RAM, SPOW, RPOW, "
            "SPH, RPH, PAS, LREFL, KM, SIFG, RIFG, TR, EMIS, ATR, TRARI, ABARI, AB, TRC, SSC, RSC")
DERIV_MSG = "Invalid deriv type: {}.  Please select from the following: 1DER, 2DER, NDER or NONE"


@pytest.fixture
def ab_file(write):
    return write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=10.0, LXV=0.0)))


@pytest.mark.parametrize("request_, message", [
    (("AB", "4D", "NONE"), DIMS_MSG.format("4D")),
    (("XY", "4d", "3DER"), DIMS_MSG.format("4D")),     # dimensions are checked first
    (("XY", "2D", "3DER"), TYPE_MSG.format("XY")),     # then the type
    (("ab", "2d", "3der"), DERIV_MSG.format("3DER")),  # then the derivative
    (("SAB", "2D", "NONE"), TYPE_MSG.format("SAB")),
    (("AB", "3D", "NONE"), "No data block exists in the file for: AB 3D NONE"),
    (("AB", "2D", "1DER"), "No data block exists in the file for: AB 2D 1DER"),
    (("TR", "2d", "none"), "No data block exists in the file for: TR 2D NONE"),
    (("AB-CH2", "2D", "NONE"), "No data block exists in the file for: AB-CH2 2D NONE"),
])
def test_request_errors(ab_file, request_, message):
    with pytest.raises(ValueError) as info:
        kestrel.getOpusData(ab_file, request_)
    assert str(info.value) == message


class Upper:
    """An item whose upper() returns anything at all."""

    def __init__(self, value):
        self.value = value

    def upper(self):
        return self.value


class Shout:
    """Joins a str from the right with a text of its own."""

    def __radd__(self, other):
        return other + "SHOUT"


class Text(str):
    def upper(self):
        return Text(str.upper(self))


def concat_error(kind):
    return f'can only concatenate str (not "{kind}") to str'


@pytest.mark.parametrize("request_, error, message", [
    ((b"ab", "4d", "none"), ValueError, DIMS_MSG.format("4D")),   # only the failing value is joined to the text
    (("xy", "2d", b"none"), ValueError, TYPE_MSG.format("XY")),
    ((b"ab", "2d", "none"), TypeError, concat_error("bytes")),     # b"AB" is not the name "AB"
    (("ab", b"2d", "none"), TypeError, concat_error("bytes")),
    (("ab", "2d", b"none"), TypeError, concat_error("bytes")),
    (("ab", Upper(["2D"]), "none"), TypeError, concat_error("list")),
    ((Upper(["AB"]), "2d", "none"), TypeError, "unhashable type: 'list'"),
    ((Upper(4), "2d", "none"), TypeError, concat_error("int")),
    (("ab", Upper(Shout()), Upper(None)), ValueError, "Incorrect dimensions: SHOUT. Dimensions need to be either 2D or 3D"),
    ((Upper(Shout()), "2D", Upper(None)), ValueError, TYPE_MSG.format("SHOUT")),
])
def test_request_checks_use_the_upper_results_as_they_are(ab_file, request_, error, message):
    """Each check looks at its own item, in order, with Python's membership tests and concatenation."""
    with pytest.raises(error) as info:
        kestrel.getOpusData(ab_file, request_)
    assert type(info.value) is error and str(info.value) == message


def test_str_subclass_items_are_carried_into_the_result(ab_file):
    r = kestrel.getOpusData(ab_file, (Text("ab"), Text("2d"), Text("none")))
    assert (r.dataType, r.dimension, r.derivative) == ("AB", "2D", "NONE") and type(r.dataType) is Text


def test_request_errors_come_before_the_file_is_touched():
    with pytest.raises(ValueError, match="^Incorrect dimensions"):
        kestrel.getOpusData("/nonexistent/file.0", ("AB", "1D", "NONE"))


@pytest.mark.parametrize("datablock, error", [
    (("AB", "2D"), IndexError), (("AB", 2, "NONE"), AttributeError), (5, TypeError), ("AB", IndexError),
])
def test_malformed_triples_raise_the_sequences_own_errors(ab_file, datablock, error):
    with pytest.raises(error):
        kestrel.getOpusData(ab_file, datablock)


@pytest.mark.parametrize("path, message", [
    (b"x.0", "Argument 'path' has incorrect type (expected str, got bytes)"),
    (3, "Argument 'path' has incorrect type (expected str, got int)"),
])
def test_path_must_be_str(path, message):
    with pytest.raises(TypeError) as info:
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))
    assert str(info.value) == message


def test_none_path_fails_at_open():
    with pytest.raises(TypeError, match="expected str, bytes or os.PathLike object, not NoneType"):
        kestrel.getOpusData(None, ("AB", "2D", "NONE"))


def test_non_opus_and_missing_files(write):
    with pytest.raises(ValueError, match="^Can't process a non-Opus file$"):
        kestrel.getOpusData(write(b"garbage!"), ("AB", "2D", "NONE"))
    with pytest.raises(FileNotFoundError):
        kestrel.getOpusData("/nonexistent/file.0", ("AB", "2D", "NONE"))


def test_single_spectrum(ab_file):
    r = kestrel.getOpusData(ab_file, ("ab", "2d", "none"))
    assert type(r) is kestrel.SingleDataReturn
    assert (r.dimension, r.dataType, r.derivative) == ("2D", "AB", "NONE")
    assert r.x.dtype == np.float64 and r.x.tolist() == [10.0, 5.0, 0.0]
    assert r.y.dtype == np.float32 and r.y.tolist() == [1.0, 2.0, 3.0]
    assert (r.minY, r.maxY) == (1.0, 3.0)
    assert r.parameters == {"NPT": 3, "FXV": 10.0, "LXV": 0.0, "MNY": 1.0, "MXY": 3.0, "DXU": "WN"}


@pytest.mark.parametrize("fxv, lxv, npt", [
    (4000.0, 400.0, 7000), (400.0, 4000.0, 1), (1.0, 1.0, 5), (0.0, 1e-320, 4), (3999.64, 399.82, 2567),
    (7, 1, 4), (1e308, -1e308, 3), (5.0, 2.0, 0),
    # each of these differs in some element when i * step + start is fused into one multiply-add
    (0.1, 0.7, 10), (1.0, 0.0, 7), (12000.3, 3.7, 17),
])
def test_x_axis_is_numpys_linspace_bit_for_bit(write, fxv, lxv, npt):
    values = [float(i) for i in range(npt)]
    path = write(opus(spectrum("AB", values, FXV=fxv, LXV=lxv)))
    with np.errstate(invalid="ignore", over="ignore"):
        r = kestrel.getOpusData(path, ("AB", "2D", "NONE"))
        expected = np.linspace(fxv, lxv, npt)
    assert r.x.tobytes() == expected.tobytes() and r.x.dtype == expected.dtype


def recorded_warnings(call):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    return result, [(w.category, str(w.message)) for w in caught]


INF, NAN = float("inf"), float("nan")


@pytest.mark.parametrize("fxv, lxv, npt", [
    (INF, 0.0, 3), (0.0, -INF, 3), (NAN, 1.0, 4), (-INF, INF, 4), (INF, INF, 1), (INF, 1.0, 0), (1e308, -1e308, 3),
])
def test_non_finite_axis_ends_warn_as_numpy_does(write, fxv, lxv, npt):
    """Infinite or NaN ends give numpy's axis and numpy's RuntimeWarnings, in numpy's order."""
    path = write(opus(spectrum("AB", [1.0] * npt, FXV=fxv, LXV=lxv)))
    r, got = recorded_warnings(lambda: kestrel.getOpusData(path, ("AB", "2D", "NONE")))
    expected, wanted = recorded_warnings(lambda: np.linspace(fxv, lxv, npt))
    assert got == wanted
    assert r.x.tobytes() == expected.tobytes()


@pytest.mark.parametrize("name", ["AB", "SSC", "RSC", "SIFG", "RIFG", "SPH", "RPH", "SPOW", "RPOW", "TR", "KM",
                                  "RAM", "EMIS", "REFL", "LREFL", "ATR", "PAS", "TRARI", "ABARI", "TRC",
                                  "AB-CH2", "SSC-CH2", "RIFG-CH2", "TRC-CH2"])
@pytest.mark.parametrize("deriv", ["NONE", "1DER", "2DER", "NDER"])
def test_every_type_and_derivative_reads_back(write, name, deriv):
    d = ["NONE", "1DER", "2DER", "NDER"].index(deriv)
    values = [d + 0.5, -1.25, 2.0**100]
    path = write(opus(spectrum("AB", [9.0, 9.0, 9.0]), spectrum(name, values, deriv=d)))
    assert (name, "2D", deriv) in kestrel.listContents(path)
    r = kestrel.getOpusData(path, (name.lower(), "2d", deriv.lower()))
    assert r.y.tolist() == values and r.dataType == name and r.derivative == deriv


def test_sample_selection(write):
    """SSC takes only sample blocks, RSC only reference blocks; the later matching entry wins."""
    path = write(opus(spectrum("SSC", [1.0]), spectrum("RSC", [2.0]), spectrum("SSC", [3.0])))
    assert kestrel.getOpusData(path, ("SSC", "2D", "NONE")).y.tolist() == [3.0]
    assert kestrel.getOpusData(path, ("RSC", "2D", "NONE")).y.tolist() == [2.0]


def test_ab_accepts_either_sample_type(write):
    sample_ab = spectrum("AB", [5.0])
    for b in sample_ab:
        b.sample = 1
    assert kestrel.getOpusData(write(opus(sample_ab)), ("AB", "2D", "NONE")).y.tolist() == [5.0]


def test_data_block_without_its_parameter_block(write):
    path = write(opus(data_block("AB", floats([1.0]))))
    with pytest.raises(ValueError, match="No data block exists in the file for: AB 2D NONE"):
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))


def test_parameter_merge_order_and_last_wins(write):
    blocks = spectrum("AB", [1.0, 2.0], RES=1.0, SNM="data")
    blocks += [params(kind=FT, RES=4.0, APF="B3"), params(kind=SAMPLE, SNM="sample", RES=3.0),
               params(kind=OPTICS, sample=0, BMS="KBr", RES=2.5), params(kind=INSTRUMENT, sample=0, INS="X"),
               params(kind=ACQUISITION, NSS=32, RES=2.0)]
    p = kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE")).parameters
    assert list(p) == ["NPT", "FXV", "LXV", "MNY", "MXY", "DXU", "RES", "SNM", "NSS", "INS", "BMS", "APF"]
    assert p["RES"] == 4.0 and p["SNM"] == "sample"


def test_many_parameters_keep_dict_order_and_last_wins(write):
    """Hundreds of keys, a block's keys repeated by a later block: the key index grows many times and
    must still find every earlier key (a lost one would appear twice or lose its later value)."""
    keys = [f"K{i:03d}" for i in range(300)]
    blocks = spectrum("AB", [1.0], **{k: i for i, k in enumerate(keys[:200])})
    blocks += [params(kind=FT, **{k: -i for i, k in enumerate(reversed(keys))})]
    p = kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE")).parameters
    assert list(p) == ["NPT", "FXV", "LXV", "MNY", "MXY", "DXU", *keys[:200], *reversed(keys[200:])]
    assert all(p[k] == -(299 - int(k[1:])) for k in keys)


def test_merged_values_drive_the_axis(write):
    """An FT block's FXV overrides the data block's, and x uses what the merged dict holds."""
    blocks = spectrum("AB", [1.0, 2.0, 3.0], FXV=10.0, LXV=0.0) + [params(kind=FT, FXV=20.0, MXY=7.5)]
    r = kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))
    assert r.x.tolist() == [20.0, 10.0, 0.0] and r.maxY == 7.5


@pytest.mark.parametrize("kind", [INSTRUMENT, OPTICS])
@pytest.mark.parametrize("sample, request_type, taken", [
    (0, "SSC", True), (0, "AB", True), (0, "RSC", False), (2, "RSC", True), (1, "RSC", False), (1, "SSC", True),
    (3, "AB", False),
])
def test_instrument_and_optics_blocks_follow_the_sample_type(write, kind, sample, request_type, taken):
    blocks = spectrum(request_type, [1.0]) + [params(kind=kind, sample=sample, ZZZ=1)]
    p = kestrel.getOpusData(write(opus(blocks)), (request_type, "2D", "NONE")).parameters
    assert ("ZZZ" in p) is taken


def test_first_matching_rule_wins(write):
    """An entry that matches the data block's own fields is not also an acquisition block."""
    blocks = spectrum("AB", [1.0]) + [Block(b"", sample=3, data=4, param=3)]
    blocks.append(params(kind=ACQUISITION, QQQ=1))
    p = kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE")).parameters
    assert p["QQQ"] == 1


@pytest.mark.parametrize("missing", ["NPT", "FXV", "LXV", "MXY", "MNY"])
def test_missing_axis_key_is_key_error(write, missing):
    p = dict(NPT=1, FXV=1.0, LXV=1.0, MXY=1.0, MNY=1.0)
    del p[missing]
    path = write(opus(data_block("AB", floats([1.0])), params(p, name="AB")))
    with pytest.raises(KeyError) as info:
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))
    assert info.value.args == (missing,)


def test_npt_zero_and_short_data(write):
    r = kestrel.getOpusData(write(opus(spectrum("AB", [], FXV=1.0, LXV=2.0))), ("AB", "2D", "NONE"))
    assert r.x.shape == (0,) and r.y.shape == (0,)
    # NPT larger than the data in the file: fewer values, no error.
    blocks = spectrum("AB", [1.0, 2.0], NPT=1000)
    r = kestrel.getOpusData(write(opus(blocks[::-1])), ("AB", "2D", "NONE"))
    assert r.x.shape == (1000,) and r.y.tolist() == [1.0, 2.0]


def test_data_offset_past_the_end_gives_no_values(write):
    blocks = spectrum("AB", [1.0, 2.0])
    blocks[0].offset = 10**6
    r = kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))
    assert r.y.shape == (0,) and r.x.shape == (2,)


def test_negative_data_offset_raises_what_seek_raises(write):
    blocks = spectrum("AB", [1.0, 2.0])
    blocks[0].offset = -4
    with pytest.raises(OSError) as info:
        kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))
    assert info.value.errno == 22


@pytest.mark.parametrize("npt, error", [(-1, ValueError), (2.0, TypeError), ("3", TypeError)])
def test_bad_npt_fails_in_linspace(write, npt, error):
    path = write(opus(spectrum("AB", [1.0], NPT=npt)))
    with pytest.raises(error):
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))


def test_absurd_npt_is_refused_without_allocating(write):
    """A tiny file claiming 2**31-1 points would need 16 GiB for x alone."""
    path = write(opus(spectrum("AB", [1.0], NPT=2**31 - 1)))
    with pytest.raises(MemoryError, match="x axis"):
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))


@pytest.mark.parametrize("entry, error, message", [
    (Raw(5, 0), ValueError, "Unexpected value for reading parameter type: 5"),
    (Raw(-3, 0), ValueError, "Unexpected value for reading parameter type: -3"),
])
def test_unknown_parameter_type(write, entry, error, message):
    blocks = spectrum("AB", [1.0], BAD=entry)
    with pytest.raises(error) as info:
        kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))
    assert str(info.value) == message


def test_parameter_block_running_off_the_end(write):
    blocks = spectrum("AB", [1.0])
    blocks[1].payload = blocks[1].payload[:-8]  # no END entry
    with pytest.raises(struct.error):
        kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))


def test_non_utf8_parameter_name(write):
    """Name bytes that strict UTF-8 refuses raise Python's own decoding error."""
    base = dict(NPT=1, FXV=1.0, LXV=1.0, MXY=1.0, MNY=1.0)
    path = write(opus(data_block("AB", floats([1.0])), params(list(base.items()) + [(b"\xff\xfeX", 1)], name="AB")))
    with pytest.raises(UnicodeDecodeError) as info:
        kestrel.getOpusData(path, ("AB", "2D", "NONE"))
    with pytest.raises(UnicodeDecodeError) as expected:
        b"\xff\xfeX\0".decode()
    assert str(info.value) == str(expected.value)


@pytest.mark.parametrize("entries, expected", [
    ([("AB\0\0", 1)], {"AB": 1}),
    ([("\0XYZ", 2)], {"XYZ": 2}),
    ([("END ", 3), ("QQ", 4)], {"END ": 3, "QQ": 4}),
    ([("TXT", Raw(2, 0)), ("NXT", 5)], {"TXT": "", "NXT": 5}),
    ([("TXT", Raw(2, 3, b"ab\0cde")), ("NXT", 5)], {"TXT": "ab", "NXT": 5}),
    ([("TXT", Raw(3, 2, b"abcd")), ("NXT", 5)], {"TXT": "abcd", "NXT": 5}),
    ([("TXT", Raw(4, 1, b"\xe9\0"))], {"TXT": "\u00e9"}),
    ([("INT", Raw(0, 4, struct.pack("<i", -7))), ("NXT", 5)], {"INT": -7, "NXT": 5}),
    ([("DBL", Raw(1, 0, struct.pack("<d", 2.5))), ("NXT", 5)], {"DBL": 2.5, "NXT": 5}),
    ([("DUP", 1), ("MID", 2), ("DUP", 3)], {"DUP": 3, "MID": 2}),
])
def test_parameter_entries(write, entries, expected):
    base = dict(NPT=1, FXV=1.0, LXV=1.0, MXY=1.0, MNY=1.0)
    path = write(opus(data_block("AB", floats([1.0])), params(list(base.items()) + entries, name="AB")))
    p = kestrel.getOpusData(path, ("AB", "2D", "NONE")).parameters
    assert {k: v for k, v in p.items() if k not in base} == expected
    assert list(p)[5:] == list(expected)


def test_negative_text_size_reads_to_the_end(write):
    """A negative size reads to the end of the file; the next entry then fails there."""
    blocks = spectrum("AB", [1.0], TXT=Raw(2, -1))
    with pytest.raises(struct.error):
        kestrel.getOpusData(write(opus(blocks)), ("AB", "2D", "NONE"))


@pytest.mark.parametrize("path", sample_files(), ids=lambda p: p.name)
def test_real_files_read_every_listed_2d_block(path):
    """Every 2D triple of a real file reads with NPT points, or fails for a reason the file explains."""
    for triple in kestrel.listContents(str(path)):
        try:
            r = kestrel.getOpusData(str(path), triple)
        except ValueError as error:
            # Result blocks that carry no data parameter block of their own.
            assert str(error).startswith("No data block exists in the file for: "), (triple, error)
            continue
        npt = r.parameters["NPT"]
        assert r.x.shape == (npt,) and r.y.shape == (npt,) and r.y.dtype == np.float32


def test_parameter_names_stay_right_past_the_shared_name_table(write):
    """Parameter names are shared str objects from a bounded table: files with more distinct names
    than it holds, read in turn, must each get exactly their own names and values."""
    many = [f"{chr(65 + i // 26 // 26 % 26)}{chr(65 + i // 26 % 26)}{chr(65 + i % 26)}{i % 10}" for i in range(1500)]
    big = write(opus(spectrum("AB", [1.0], **{k: i for i, k in enumerate(many)})))
    small = write(opus(spectrum("AB", [1.0], RES=2.0, SNM="x")))
    for _ in range(2):
        p = kestrel.getOpusData(big, ("AB", "2D", "NONE")).parameters
        assert list(p)[6:] == many and all(p[k] == i for i, k in enumerate(many))
        q = kestrel.getOpusData(small, ("AB", "2D", "NONE")).parameters
        assert list(q) == ["NPT", "FXV", "LXV", "MNY", "MXY", "DXU", "RES", "SNM"]
