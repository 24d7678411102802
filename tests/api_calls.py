"""Every public function of kestrel as a list of calls on given files, with
outcomes that compare by value: what the leak, thread and hostile-file tests
share. getOpusData and getVisImages join in as soon as the module binds them.
"""

from __future__ import annotations

import contextlib
import io
import math
import pathlib
import sys

import numpy as np

import kestrel

FUZZ_DIR = pathlib.Path(__file__).resolve().parents[1] / "fuzz"
sys.path.insert(0, str(FUZZ_DIR))

import make_corpus  # noqa: E402

# A few byte strings for the functions that take bytes rather than a file.
BYTES_INPUTS = [b"", b"abc", b"a\0b", b"\xc3\xa9", b"\xe9\xff", b"\x89PNG\r\n\x1a\n" + b"\0" * 8,
                b"\xff\xd8\xff\xe0\0\x10JFIF", b"GIF89a", b"BM", b"\0" * 32]
ENCODINGS = [("ascii", "utf8", "latin1"), ("ascii",), (), ("utf-16-le", "latin1")]


def freeze(value):
    """A hashable, comparable picture of a result: arrays by dtype, shape and
    bytes, objects by class and attributes in order, NaN equal to itself."""
    if isinstance(value, np.ndarray):
        return ("ndarray", str(value.dtype), value.shape, value.tobytes())
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else value)
    if isinstance(value, dict):
        return ("dict", tuple((k, freeze(v)) for k, v in value.items()))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, tuple(freeze(v) for v in value))
    if isinstance(value, (str, bytes, int, bool, type(None))):
        return value
    if hasattr(value, "__dict__"):
        return (type(value).__name__, freeze(vars(value)))
    return (type(value).__name__, repr(value))


def outcome(fn, *args):
    """("ok", frozen result) or ("raise", exception type, message)."""
    try:
        return ("ok", freeze(fn(*args)))
    except Exception as e:  # noqa: BLE001 - every failure is part of the outcome
        return ("raise", type(e).__name__, str(e))


def requests_for(path):
    """The block requests worth making on a file: what it lists, the same in
    lower case, and one it cannot hold."""
    try:
        listed = kestrel.listContents(path)
    except Exception:  # noqa: BLE001
        listed = []
    reqs = list(dict.fromkeys(listed))[:6]
    if reqs:
        reqs.append(tuple(s.lower() for s in reqs[0]))
    reqs.append(("AB", "2D", "NONE"))
    reqs.append(("XX", "4D", "NONE"))
    return reqs


def help_quietly():
    with contextlib.redirect_stdout(io.StringIO()) as out:
        kestrel.help()
    return out.getvalue()


def file_calls(path):
    """(label, function, args) for every public function that takes a path."""
    calls = [("isOpusFile", kestrel.isOpusFile, (path,)), ("listContents", kestrel.listContents, (path,))]
    if hasattr(kestrel, "getOpusData"):
        calls += [("getOpusData", kestrel.getOpusData, (path, req)) for req in requests_for(path)]
    if hasattr(kestrel, "getVisImages"):
        calls.append(("getVisImages", kestrel.getVisImages, (path,)))
    return calls


def other_calls():
    """Calls of the public functions that take no file (help excepted: it prints)."""
    calls = [("OpusDict", kestrel.OpusDict, ())]
    calls += [("imghdr_what", kestrel.imghdr_what, (h,)) for h in BYTES_INPUTS]
    calls += [("decode_string", kestrel.decode_string, (s, enc)) for s in BYTES_INPUTS for enc in ENCODINGS]
    calls.append(("decode_string", kestrel.decode_string, (b"abc", ("no-such-codec",))))
    calls.append(("decode_string", kestrel.decode_string, (b"\xff", ("no-such-codec",))))
    calls.append(("decode_string", kestrel.decode_string, (b"abc",)))
    return calls


# Scenarios of the seed corpus that the leak and thread checks run on: good
# files of each kind and files broken in each way a reader must survive.
VALID = ["2d_AB", "2d_ch2", "ext64", "2d_all_param_kinds", "2d_many_blocks", "2d_deriv1", "2d_npt_mismatch",
         "demo_like", "map_per_position", "map_transposed", "map_trc", "map_derived_empty_grid", "series",
         "series_trc", "regions", "regions_trc", "store_gap", "images", "images_two_directories"]
INVALID = ["magic_swapped", "magic_only", "dir_size_huge", "dir_offset_negative", "ext64_count_huge",
           "params_type_5", "params_no_end", "params_name_bad_utf8", "2d_AB_cut30", "2d_AB_cut155",
           "word_ffffffff", "3d_rough", "3d_trc_rough", "annotation_rough", "image_rough", "map_grid_too_small",
           "map_float_npx", "store_huge_run", "store_entries_negative", "store_huge_gap", "annotation_odd_types",
           "images_offset_back", "images_nrp_huge", "regions_cut30", "images_cut36"]


def scenario_files(directory, names=None):
    """Writes the chosen scenarios (all when names is None) into directory;
    returns {name: path}. Also a missing path, an empty file and a folder."""
    directory = pathlib.Path(directory)
    wanted = None if names is None else set(names)
    out = {}
    for name, data in make_corpus.scenarios():
        if wanted is None or name in wanted:
            path = directory / f"{name}.0"
            path.write_bytes(data)
            out[name] = str(path)
    (directory / "empty.0").write_bytes(b"")
    out["empty"] = str(directory / "empty.0")
    out["missing"] = str(directory / "missing.0")
    out["folder"] = str(directory)
    return out
